// The task-file reader on any bytes: decoding, the entries, level sections,
// a-lists, display specs and the field count.
#include "fuzzinput.h"
#include "tasks/taskfile.h"
#include "text/readtext.h"

#include <QByteArray>

using namespace Qt::StringLiterals;
using namespace caiji;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = decodeTaskText(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    fieldCountOf(text);

    // The fixed keys and one the input chooses by its first two characters.
    const QString keys[] = {u"ur"_s, u"uc"_s, u"ds"_s, u"a1"_s, QString(), text.left(2)};
    for (const QString &key : keys) {
        const std::optional<QString> value = entryValue(text, key);
        fuzz::require(!value || !value->contains(u"]]"), "an entry value holds no \"]]\"");
        if (const std::optional<QString> present = presentEntryValue(text, key))
            fuzz::require(present == value, "a present entry reads the same either way");
    }

    TaskDefinition definition;
    readTaskDefinition(text, definition);
    for (int k = 0; k <= MaxLevel + 1; ++k) {
        const std::optional<QString> section = levelSection(text, k);
        const QString marker = u"<getm" + QString::number(k) + u'>';
        fuzz::require(!section || !section->contains(marker), "a section holds no own marker");
        if (k >= 1 && k <= MaxLevel) {
            fuzz::require(definition.section[k] == section.value_or(QString()),
                          "the definition holds the level section");
            fuzz::require(definition.alist[k] == alistEntry(text, k).value_or(QString()),
                          "the definition holds the a-list");
        }
    }

    const QStringList specs = displaySpecs(text);
    fuzz::require(specs.size() <= MaxDisplaySpecs, "at most 50 display specs");
    for (const QString &spec : specs)
        fuzz::require(!spec.contains(u"]]"), "a display spec holds no \"]]\"");
    return 0;
}
