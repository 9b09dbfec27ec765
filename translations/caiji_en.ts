<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>FileTypeNames</name>
    <message>
        <source>驱动器</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>文件夹</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>链接</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Shell</name>
    <message>
        <source>信息采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>确定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>位置：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>文件名：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>文件类型：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>保存</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>放弃</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>另一个 caiji 正在这个工作目录中采集（没有窗口），等它结束后再打开窗口：
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法写入工作目录（不能创建 %1）。请检查目录是否存在、是否有写入权限，或用 --workspace 指定另一个目录。</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>caiji::ListHeader</name>
    <message>
        <source>字段%1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>caiji::MainWindow</name>
    <message>
        <source>信息采集(V-%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>信息采集（caiji）
版本 %1

按规则采集网页内容，保存为记录，可浏览、编辑和导出。

许可证：caiji 开发者尚未以任何许可证发布本程序，保留所有权利。
使用 Qt 6（LGPL-3.0）、libxml2（MIT）、libxlsxwriter（BSD-2-Clause）和 SQLite（公有领域）。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>更新记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>相应记录(浏览请双击下列)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>启动区任务(执行请双击下列)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>执行区任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>所有任务(浏览请双击下列)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>执行区记录(浏览请双击下列)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>执行(&amp;T)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库(&amp;D)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>高级(&amp;G)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>选项配置(&amp;X)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>工具(&amp;K)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>新建任务(&amp;N)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑任务(&amp;E)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除任务(&amp;C)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导出 CSV(&amp;V)…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导出 Excel(&amp;X)…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>退出程序(&amp;Q)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>暂停采集(&amp;S)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>继续采集(&amp;Z)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库查看(&amp;J)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库移动(&amp;W)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>历史记录(&amp;H)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>失败列表(&amp;F)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>进入任务主目录(&amp;S)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>进入下载文件目录(&amp;H)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>软件配置(&amp;Z)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>多线程配置(&amp;Y)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HTML-TXT转换器(&amp;I)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>URL-parse提取器(&amp;L)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>主页(&amp;A)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于(&amp;N)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>帮助文档(&amp;M)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>暂停采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>暂停采集：不再发出新的请求，已发出的照常完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>继续采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>继续采集：从暂停处接着采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>新建任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>新建任务：填写任务名称和任务内容（Ctrl+N）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑“启动区任务”中选中的任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除“启动区任务”中选中的任务，连同它的记录和下载的文件（先询问）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>进入任务主目录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开任务主目录（每个任务一个子目录）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>进入下载文件目录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开选中任务的下载文件目录（wek）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>进入数据库目录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开选中任务的数据库目录（data）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>软件官方网站</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>在浏览器中打开软件官方网站</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>软件说明</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>软件帮助</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>打开帮助文档（F1）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>退出程序</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>暂停中</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在采集：%1（第%2个，共%3个）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>等待开始：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有排队的任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>排队的任务都已采集完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>信息采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>工作目录中还没有任务。要把示范任务（%1）复制进来吗？
示范任务采集本机的示范网站：先在终端运行 caiji-demo-site，再双击启动区中的任务。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>、</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法复制示范任务：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>该任务没有更早的采集记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1（%2条记录）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：选择要浏览的一次采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法读取失败列表：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：最近一次采集没有失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：最近一次采集失败%2项（类型、原因、地址）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>该任务正在采集，不能更改名称</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>该任务正在采集，不能删除</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除任务“%1”？
任务目录连同其中的%2条记录、历史记录和下载的文件都将被删除，不能恢复。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除任务“%1”？
任务目录连同其中的记录、历史记录和下载的文件都将被删除，不能恢复。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>找不到帮助文档：
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有能打开帮助文档的程序。帮助文档在：
%1
它是 RTF 格式，可以用 LibreOffice Writer 等文字处理程序打开。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请先在“所有任务”中选择要导出的任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Excel 工作簿 (*.xlsx)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>导出失败：%1
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法读取记录：%1
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>第%1条记录的字段%2（单元格 %3）：%4个字符</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这些单元格超过 Excel 的 32767 个字符，只保留了前 32767 个：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>……共%1个单元格</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已导出%1条记录：
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网络设置有误，任务没有保存：
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务名称</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>状态</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>退出程序：已存储的记录不会丢失；显示的记录有未保存的修改时先询问</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>查看失败列表</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>失败%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法打开%1：
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有能打开文件夹的程序。%1在：
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务主目录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下载文件目录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库目录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有能打开网页的程序。软件官方网站：
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务“%1”的记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务“%1”在 %2 采集的历史记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>把%1导出为 Excel 工作簿</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>把%1导出为 CSV 文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已导出%1条历史记录（任务“%2”在 %3 采集）：
%4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>定时任务已加入队列：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>定时设置有误：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>定时：%1，下次 %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：新增%2条记录，失败%3项</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：新增%2条记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：采集完成，失败%2项</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已加入队列：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已在队列中：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有这些任务：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>；</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务“%1”在 %2 开始的采集新增的记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已导出%1条记录（任务“%2”在 %3 开始的采集新增的）：
%4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>发布到数据库(&amp;P)…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>发布失败%1条</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>发布失败</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：采集完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>，%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：已发布%2条记录到 %3 的表 %4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>；发布失败原因：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1：%2。未发布的记录仍在本地数据库中，可以用“文件→发布到数据库…”或 caiji publish 再次发布</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>窗口已关闭</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在发布最后的记录…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这些任务有记录没有发布到数据库：%1
这些记录仍在本地数据库中，可以用“文件→发布到数据库…”或 caiji publish 再次发布。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在把%1发布到 %2 …</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>新增%1条，更新%2条，删除%3条</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已发布到 %1 的表 %2：%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有全部发布到 %1 的表 %2：%3
已%4。
未发布的记录仍在本地数据库中，可以再次发布。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>本次采集已处理%1个页面（取到的和失败的都算），已排队%2个（列表页和内容页）%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>；还有列表页没有读，总数还会增加</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>caiji::PublishDialog</name>
    <message>
        <source>发布</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>发布到数据库</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>postgresql://用户@主机:端口/数据库 或 mysql://…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已经发布过的记录不会重复添加；在记录浏览中修改、删除过的，发布后服务器上也随之修改、删除。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库地址：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据表：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>密码最好不写在地址里（它会以明文存进 settings.ini），而是放在 ~/.pgpass、环境变量 PGPASSWORD（PostgreSQL）或 MYSQL_PWD（MySQL）中。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>把%1发布到 PostgreSQL 或 MySQL 数据库：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库地址有误：
%1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>caiji::RecordBrowser</name>
    <message>
        <source>该任务尚未采集!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>待所有采集完成后再编辑记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法读取记录：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务已不存在，记录未保存：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>更新失败：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>更新完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除第%1条记录？
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除失败：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>删除成功</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请先双击“相应记录”中要编辑的记录</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>显示的记录有未保存的修改，放弃这些修改吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>（%1 的历史记录）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>显示的记录已被删除</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>只看最近一次新增（%1条）</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>caiji::RecordDisplay</name>
    <message>
        <source>记录编辑显示界面（有未保存的修改；%1条新记录未显示）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>记录编辑显示界面</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>caiji::RecordListModel</name>
    <message>
        <source>字段%1：%2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>caiji::TaskDialog</name>
    <message>
        <source>试采</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>新建任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>编辑任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务名称：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务内容：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>第</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>层</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>试采：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请先填写试采网址。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在取页面 %1 …</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>需要修改：取不到页面 %1（%2）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>放弃正在填写的新任务吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务“%1”的修改还没有保存，放弃这些修改吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>遵守 robots.txt</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>网络</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>浏览…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>重试次数：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每个网站同时连接数：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>两次请求最短间隔（毫秒）：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>对同一个网站的两次请求之间至少等这么久；网站限制访问频率时调大。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>空着时用程序默认的 User-Agent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User-Agent：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每行一个“名称: 值”，例如
Referer: http://www.example.cn/</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>附加请求头：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cookies 文件：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>选择 cookies 文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cookies.txt (*.txt);;所有文件 (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>http://127.0.0.1:3128 或 socks5://用户:密码@主机:端口</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CA 证书文件：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>选择 CA 证书</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>证书 (*.pem *.crt *.cer *.der);;所有文件 (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 中的网络设置有误：
%2
“网络”页中是文件里写的值，改正后保存任务。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>需要修改：网络设置 %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这些设置保存在任务的 data/settings.ini 里，采集和试采都照此取页面；没有改的项用默认值。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接失败、超时、内容不完整或 HTTP 408、429、500、502、503、504 时再试几次；0 表示不重试。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>勾选后，robots.txt 禁止的页面不取，记入失败列表。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>浏览器扩展导出的 cookies.txt，采集需要登录的网站时用。填相对于任务 data 文件夹的文件名；选了别处的文件，保存任务时复制为 data/cookies.txt。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>空着时按环境变量 http_proxy、https_proxy、all_proxy、no_proxy 走代理。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>内部网站用自己的 CA 签发证书时，在这里指定这个 CA 的证书（PEM 或 DER）；选了别处的文件，保存任务时复制为 data/ca.crt。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>试采网址；空着时取任务的第一个网址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消试采</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>试采已取消。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取不到页面 %1（%2）：网站没有在限定时间内回应，这不是任务内容的问题，可以稍后再试。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>按“试采”：按上面正在编辑的任务内容（不必先保存）截取试采网址这一页，逐个字段说明截到了什么；空的字段会标红并写明原因。等待页面时再按一次可以取消。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>试链接</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>方案二：列出试采网址（空着就是起始页）上的每个链接，说明它作为内容页、列表页是收下还是被哪一部分挡住</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>采集方式</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>再次采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>只采新内容</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>接着任务已有的数据库采集：已经采到记录的内容页不再取，列表页每次都照常读。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不限</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>只适合把最新内容排在最前面的网站：连续遇到这么多个已采过的链接，说明后面都是旧内容。网站不按新旧排列时会漏采新内容。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连续遇到已采过的内容页链接</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>个后不再读后面的列表页（0为不限）</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不勾选时，每次采集都从头开始，上一次的数据库转入历史记录。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>定时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>不定时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每天</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>分钟</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>小时</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>天</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>08:00,20:00</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>窗口开着时，任务到时间会自动开始采集；窗口不开时，可以在终端运行“caiji schedule 任务名”交给系统按时运行（改了定时后再运行一次）。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>这些设置也保存在任务的 data/settings.ini 里。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 中的采集方式设置有误：
%2
“采集方式”页中是默认值；在这一页重新设置后保存任务，才会改写这些设置。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每%1%2：间隔最长366天</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每天“%1”：时间应写成08:00或08:00,20:00</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已到时间：窗口开着时会马上开始采集</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>下次：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>发布</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>postgresql://用户@主机:端口/数据库 或 mysql://…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>测试连接</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>填了数据库地址，采集时存下的记录每隔几秒就发布到这个数据库的数据表中（没有这个表时新建）。发布不了的记录仍在本地数据库里，可以用“文件→发布到数据库…”或 caiji publish 再发布。这些设置也保存在任务的 data/settings.ini 里。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库地址：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据表：</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 中的发布设置有误：
%2
“发布”页中是文件里写的值，改正后保存任务。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库地址有误：
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在连接 %1 …</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接成功：%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法连接 %1：
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务已保存，但“%1”页的设置没有写入 %2。请检查这个文件，再编辑任务重新设置。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>”和“</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在填写的新任务还没有保存。
保存它吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>任务“%1”的修改还没有保存。
保存这些修改吗？</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>重试次数</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>每个网站同时连接数</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>两次请求最短间隔</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User-Agent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>附加请求头</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cookies 文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>代理</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CA 证书文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据库地址</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>数据表</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1“%2”%3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1页：%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>设置有误，任务没有保存：
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>只有方案二（ur=[[2|…]]）的任务从列表页找链接；这个任务是按编号生成地址的，没有链接可试</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
