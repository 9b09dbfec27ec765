// The live preview: records stored by a running collection appear in List7
// and are laid out as they arrive; an older one can be picked; what it shows
// can never be saved back through the record browser.
#include "gui/recordbrowser.h"
#include "gui/recorddisplay.h"
#include "records/recordstore.h"
#include "text/names.h"
#include "windowrig.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace caiji;
using namespace caiji::test;

class TestLivePreview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void previewFollowsCollection_data();
    void previewFollowsCollection();
    void browserRecordNotEditableAfterPreview();
    void pictureShownWhenDownloadArrives_data();
    void pictureShownWhenDownloadArrives();
};

namespace {

const QString Site = u"http://www.site.com/"_s;
const QSize PictureSize(24, 18);
const QSize PlaceholderSize(8, 6);

QString pageUrl(int n)
{
    return Site + u'p' + QString::number(n) + u".htm"_s;
}

QByteArray page(const QString &body)
{
    return (u"<html><head><meta charset=utf-8></head><body>"_s + body + u"</body></html>"_s)
        .toUtf8();
}

QByteArray png(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkYellow);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Scheme one over p1..p`pages`: each page's address and its <h1>, plus the
// given fields and entries.
QString taskText(int pages, int fields, const QString &markers, const QString &rest)
{
    const QString section = u"<getm1>w1=[[1]]w2=[[1]]w3=[["_s + QString::number(fields - 1) +
                            u"]]w4=[["_s + markers + u"]]w5=[[0]]w6=[[]]w7=[[0]]w8=[[]]<getm1>"_s;
    return u"ur=[[1|"_s + Site + u"p|1|"_s + QString::number(pages) + u"|1|.htm]]\r\nuc=[["_s +
           QString::number(fields) + u"]]\r\n"_s + section + rest;
}

const QString TitleMarker = u"<h1>^</h1>^<h1>^</h1>^-1^0"_s;

QStringList boxTexts(RecordDisplay *display)
{
    QStringList texts;
    for (int k = 0; k < RecordDisplay::BoxCount; ++k) {
        if (display->isBoxShown(k))
            texts << QString::number(k) + u'=' + display->pt(k)->toPlainText();
    }
    return texts;
}

bool prepare(WindowRig &rig)
{
    QImage placeholder(PlaceholderSize, QImage::Format_RGB32);
    placeholder.fill(Qt::gray);
    return placeholder.save(rig.workspace.workspace().placeholderPicture(), "PNG") && rig.start();
}

} // namespace

void TestLivePreview::previewFollowsCollection_data()
{
    QTest::addColumn<QString>("specs");
    QTest::addColumn<bool>("laidOut");
    QTest::newRow("display specs") << u"ds=[[1|0|0|0|100|20]]ds=[[0|0|0|20|200|20]]"_s << true;
    QTest::newRow("no display specs") << QString() << false;
}

void TestLivePreview::previewFollowsCollection()
{
    QFETCH(QString, specs);
    QFETCH(bool, laidOut);

    WindowRig rig;
    QVERIFY(rig.workspace.addTask(u"a"_s, taskText(3, 2, TitleMarker, specs)));
    QVERIFY(prepare(rig));
    for (int n = 1; n <= 3; ++n) {
        rig.contentFetcher->setPage(pageUrl(n),
                                    page(u"<h1>第"_s + QString::number(n) + u"条</h1>"_s));
        if (n > 1)
            rig.contentFetcher->setHanging(pageUrl(n));
    }
    CollectionEngine &engine = rig.window->engine();
    QListView *list7 = rig.view(u"List7"_s);
    RecordDisplay *display = rig.display();

    engine.schedulerTick();
    QVERIFY(engine.state().running);
    engine.collectorTick();
    settle(*rig.contentFetcher);
    auto *progress = rig.window->findChild<QProgressBar *>(u"Progress"_s);
    for (int n = 1; n <= 3; ++n) {
        if (n > 1)
            QVERIFY(rig.contentFetcher->deliver(pageUrl(n)));
        // Pages done of pages queued.
        QCOMPARE(progress->maximum(), 3);
        QCOMPARE(progress->value(), n);
        const QString record = u"^"_s + pageUrl(n) + u"^第"_s + QString::number(n) + u"条"_s;
        QCOMPARE(WindowRig::count(list7), n);
        // The address is longer than its column: it ends in "…", whole in the tooltip.
        QCOMPARE(WindowRig::texts(list7)[n - 1],
                 rus(record).replace(u"http://www.site.com/"_s, u"http://www.site.co…"_s));
        QVERIFY(list7->model()->index(n - 1, 0).data(Qt::ToolTipRole).toString().contains(
            u"字段1："_s + pageUrl(n)));
        QCOMPARE(WindowRig::currentRow(list7), n - 1);
        const QStringList values = RecordStore::valuesOf(record);
        const QStringList expected =
            laidOut ? QStringList{u"0="_s + values[0], u"1="_s + values[1]} : QStringList{};
        QCOMPARE(boxTexts(display), expected);
        QCOMPARE(rig.window->browser().recedit(), 0);
        // Nothing failed: the bar and the status bar say so.
        QVERIFY(progress->palette().color(QPalette::Highlight) != QColor(0xc0, 0, 0));
        QVERIFY(rig.window->findChild<QLabel *>(u"FailuresLink"_s)->isHidden());
    }
    QCOMPARE(engine.runRecordCount(), 3);
    if (!laidOut) {
        QVERIFY(display->pp()->isHidden());
        return;
    }

    WindowRig::click(list7, 0);
    QCOMPARE(boxTexts(display), (QStringList{u"0="_s + pageUrl(1), u"1=第1条"_s}));
    WindowRig::doubleClick(list7, 1);
    QCOMPARE(boxTexts(display), (QStringList{u"0="_s + pageUrl(2), u"1=第2条"_s}));
    QCOMPARE(rig.window->browser().recedit(), 0);

    // The status line reports the run's record count; a new run starts from 0.
    engine.schedulerTick();
    auto *label9 = rig.window->findChild<QLabel *>(u"Label9"_s);
    QCOMPARE(label9->text(), u"3"_s);
    WindowRig::doubleClick(rig.list(u"List5"_s), 0);
    for (int tick = 0; tick < 30 && engine.state().taskIndex < 1; ++tick)
        engine.schedulerTick();
    QCOMPARE(engine.state().taskIndex, 1);
    QCOMPARE(label9->text(), u"0"_s);
}

void TestLivePreview::browserRecordNotEditableAfterPreview()
{
    WindowRig rig;
    const QString specs = u"ds=[[1|0|0|0|100|20]]"_s;
    QVERIFY(rig.workspace.addTask(u"a"_s, taskText(2, 2, TitleMarker, specs)));
    // A task collected earlier, queued behind a.
    QVERIFY(rig.workspace.addTask(u"b"_s, u"uc=[[2]]"_s + specs));
    {
        RecordStore store;
        QVERIFY(store.create(rig.workspace.databaseFile(u"b"_s), 2));
        QVERIFY(store.append(u"^old^旧记录"_s));
    }
    QVERIFY(prepare(rig));
    for (int n = 1; n <= 2; ++n)
        rig.contentFetcher->setPage(pageUrl(n), page(u"<h1>new</h1>"_s));
    rig.contentFetcher->setHanging(pageUrl(2));
    CollectionEngine &engine = rig.window->engine();
    engine.schedulerTick();
    engine.collectorTick();
    settle(*rig.contentFetcher);
    QListView *list7 = rig.view(u"List7"_s);
    QCOMPARE(WindowRig::count(list7), 1);

    const auto showStored = [&rig] {
        WindowRig::doubleClick(rig.list(u"List9"_s), 1);
        WindowRig::doubleClick(rig.view(u"List10"_s), 0);
        QCOMPARE(rig.window->browser().recedit(), 1);
        QCOMPARE(rig.display()->pt(1)->toPlainText(), u"旧记录"_s);
        rig.display()->pt(1)->setPlainText(u"edited"_s);
    };
    auto *command3 = rig.window->findChild<QPushButton *>(u"Command3"_s);

    // A click on a live record after a stored one was edited asks first;
    // "no" keeps the edits.
    showStored();
    rig.shell.answers = {false};
    WindowRig::click(list7, 0);
    QCOMPARE(rig.shell.questions.size(), 1);
    QCOMPARE(rig.display()->pt(1)->toPlainText(), u"edited"_s);
    rig.shell.answers = {true};
    WindowRig::doubleClick(list7, 0);
    QCOMPARE(rig.display()->pt(1)->toPlainText(), u"new"_s);
    // What cannot be saved cannot be typed into either.
    QVERIFY(rig.display()->pt(1)->isReadOnly());
    QTest::mouseClick(command3, Qt::LeftButton);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"待所有采集完成后再编辑记录"_s});

    // A record arriving while a stored one is being edited waits: the edits
    // stay and can be saved.
    showStored();
    QVERIFY(rig.contentFetcher->deliver(pageUrl(2)));
    QCOMPARE(WindowRig::count(list7), 2);
    QCOMPARE(rig.window->browser().recedit(), 1);
    QCOMPARE(rig.display()->pt(1)->toPlainText(), u"edited"_s);
    QCOMPARE(rig.display()->waitingRecords(), 1);
    QTest::mouseClick(command3, Qt::LeftButton);
    QCOMPARE(rig.shell.takeMessages(), QStringList{u"更新完成"_s});
    QCOMPARE(rig.display()->waitingRecords(), 0);
    QCOMPARE(RecordStore::readAll(rig.workspace.databaseFile(u"b"_s), 2),
             QStringList{u"^old^edited"_s});
}

void TestLivePreview::pictureShownWhenDownloadArrives_data()
{
    QTest::addColumn<bool>("editing"); // a stored record with unsaved edits is on display
    QTest::newRow("following the collection") << false;
    QTest::newRow("edits kept: the record waits once") << true;
}

void TestLivePreview::pictureShownWhenDownloadArrives()
{
    QFETCH(bool, editing);
    WindowRig rig;
    const QString picture = Site + u"img/pic.png"_s;
    QVERIFY(
        rig.workspace.addTask(u"a"_s, taskText(1, 3, TitleMarker + u"|<img^>^src=\"^\"^0^0"_s,
                                               u"ds=[[1|0|0|0|100|20]]ds=[[2|1|100|0|50|50]]"_s)));
    QVERIFY(prepare(rig));
    rig.contentFetcher->setPage(pageUrl(1), page(u"<h1>图</h1><img src=\"img/pic.png\">"_s));
    rig.contentFetcher->setPage(picture, png(PictureSize));
    rig.contentFetcher->setHanging(picture);
    CollectionEngine &engine = rig.window->engine();
    RecordDisplay *display = rig.display();
    if (editing) {
        QVERIFY(rig.workspace.addTask(u"b"_s, u"uc=[[1]]ds=[[0|0|0|0|100|20]]"_s));
        RecordStore store;
        QVERIFY(store.create(rig.workspace.databaseFile(u"b"_s), 1) && store.append(u"^旧"_s));
        store.close();
        rig.list(u"List9"_s)->addItem(u"b"_s);
        WindowRig::doubleClick(rig.list(u"List9"_s), 1);
        WindowRig::doubleClick(rig.view(u"List10"_s), 0);
        QVERIFY(!display->pt(0)->isReadOnly());
        display->pt(0)->setPlainText(u"改"_s);
    }
    engine.schedulerTick();
    engine.collectorTick();
    settle(*rig.contentFetcher);
    engine.collectorTick(); // hands out the download and stores the record

    QCOMPARE(WindowRig::count(rig.view(u"List7"_s)), 1);
    if (editing) {
        QVERIFY(rig.contentFetcher->deliver(picture));
        QCOMPARE(display->waitingRecords(), 1);
        QCOMPARE(boxTexts(display), QStringList{u"0=改"_s});
        return;
    }
    QCOMPARE(display->pt(2)->toPlainText(), name1(picture));
    QVERIFY(display->pp()->isVisible());
    QCOMPARE(display->pp()->pixmap().size(), PlaceholderSize);

    QVERIFY(rig.contentFetcher->deliver(picture));
    QCOMPARE(engine.state().downloads, QStringList{picture});
    QVERIFY(display->pp()->isVisible());
    QCOMPARE(display->pp()->pixmap().size(), PictureSize);
    QCOMPARE(boxTexts(display), QStringList{u"1=图"_s});
}

QTEST_MAIN(TestLivePreview)
#include "tst_livepreview.moc"
