<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>BatchOutcome</name>
    <message>
        <source>提取文件夹中没有找到excel文件(.xls、.xlsx、.xlsm)。</source>
        <translation>No workbook (.xls, .xlsx, .xlsm) was found in the source folder.</translation>
    </message>
    <message>
        <source>成功将%1转换为%2。</source>
        <translation>Converted %1 into %2.</translation>
    </message>
    <message>
        <source>%1。</source>
        <translation> %1.</translation>
    </message>
    <message>
        <source>,</source>
        <translation>, </translation>
    </message>
    <message numerus="yes">
        <source>%n个excel文件</source>
        <translation>
            <numerusform>%n workbook</numerusform>
            <numerusform>%n workbooks</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n个csv文件</source>
        <translation>
            <numerusform>%n CSV file</numerusform>
            <numerusform>%n CSV files</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n个excel文件转换失败</source>
        <translation>
            <numerusform>%n workbook failed</numerusform>
            <numerusform>%n workbooks failed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n个文件夹无法读取</source>
        <translation>
            <numerusform>%n folder could not be read</numerusform>
            <numerusform>%n folders could not be read</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n个csv文件未能转换为UTF-8编码</source>
        <translation>
            <numerusform>%n CSV file was not re-encoded as UTF-8</numerusform>
            <numerusform>%n CSV files were not re-encoded as UTF-8</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>请运行&apos;sheetdrain-cli --help&apos;查看用法。</source>
        <translation>Try &apos;sheetdrain-cli --help&apos;.</translation>
    </message>
    <message>
        <source>--password 需要一个值</source>
        <translation>--password needs a value</translation>
    </message>
    <message>
        <source>--password-file 需要一个文件名</source>
        <translation>--password-file needs a file name</translation>
    </message>
    <message>
        <source>无法读取密码文件%1:%2</source>
        <translation>cannot read the password file %1: %2</translation>
    </message>
    <message>
        <source>大于1 MB</source>
        <translation>larger than 1 MB</translation>
    </message>
    <message>
        <source>--report 需要一个文件名</source>
        <translation>--report needs a file name</translation>
    </message>
    <message>
        <source>未知选项:%1</source>
        <translation>unknown option: %1</translation>
    </message>
    <message>
        <source>需要SOURCE和OUTPUT两个参数(文件夹或工作簿,以及文件夹)</source>
        <translation>expected SOURCE and OUTPUT (a folder or a workbook, and a folder)</translation>
    </message>
    <message>
        <source>提取文件夹不存在!</source>
        <translation>The source folder does not exist!</translation>
    </message>
    <message>
        <source>提取的文件不是Excel工作簿(.xls、.xlsx、.xlsm)!</source>
        <translation>The source file is not a workbook (.xls, .xlsx, .xlsm)!</translation>
    </message>
    <message>
        <source>保存文件夹不存在!</source>
        <translation>The output folder does not exist!</translation>
    </message>
    <message>
        <source>无法写入报告文件%1:%2</source>
        <translation>cannot write the report file %1: %2</translation>
    </message>
    <message>
        <source>用法:sheetdrain-cli [选项] SOURCE OUTPUT

把文件夹SOURCE及其子文件夹中的每个.xls、.xlsx和.xlsm工作簿转换为CSV文件,
保存到OUTPUT下相同的文件夹结构中(隐藏文件夹和~$锁定文件除外)。SOURCE也
可以是单个工作簿,它的CSV文件直接保存到OUTPUT中。空白工作表不生成文件。

  --all-sheets   每个工作表保存为 名称(工作表名).csv;不加此选项时只保存
                 第一个工作表,保存为 名称.csv
  --utf8         之后把本次写入的CSV文件中不是UTF-8的(按GBK读取)转换为
                 UTF-8;OUTPUT中的其他文件不受影响
  --quiet        只输出错误,不输出每个工作簿的进度和结尾的总结
  --jobs N       同时转换N个工作簿(默认为处理器核心数);输出的文件、进度、
                 报告和总结与逐个转换(--jobs 1)时相同
  --report FILE  向FILE追加每个工作簿的一行JSON:path(工作簿)、status
                 (converted、failed或stopped)、reason(原因)和csv
                 (写入的CSV文件);多个同时运行的实例可以共用一个FILE
  --password PW  对加密的工作簿尝试密码PW;每个密码给一次(也可写作
                 --password=PW)
  --password-file FILE
                 同上,FILE中每行一个密码(UTF-8,空行跳过)
  --version      显示版本
  -h, --help     显示本帮助

加密的工作簿先用电子表格程序内置的默认密码打开(桌面程序也不询问),再依次
尝试给出的密码。都打不开的工作簿不生成CSV文件,原因为&quot;password needed&quot;。
密码从不输出或写入磁盘;命令行上的密码在运行期间对本机其他用户可见,
密码文件则不会。

以前运行留下的同名CSV文件会被替换。同一次运行中的两个工作簿不会写入同一个
文件:第一个保留原名,后面的以完整文件名(到最后一个点为止)命名,再加上
&quot; (2)&quot;、&quot; (3)&quot;。同时写入同一文件夹的几次运行也不会替换彼此的文件:
后写的一个取下一个可用的名称。

每个工作簿在标准错误中报告为 [k/n] PATH,其后每项失败各占一行 PATH: 原因
(无法读取的文件夹和不符合本地编码的文件名也是如此)。这些行中的控制字符
写作\n、\r、\t或\xHH,每项报告保持一行。结尾的总结输出到标准输出:只统计
转换成功的工作簿和写入的CSV文件,然后说明失败的项目。

退出状态:0 正常结束;1 无法使用电子表格程序;2 参数错误或文件夹不存在;
3 被信号中止(正在写入的CSV文件要么完整写入,要么不写);4 运行结束,但有
工作簿、文件夹或编码转换失败,或报告文件无法写入。
</source>
        <translation>Usage: sheetdrain-cli [OPTIONS] SOURCE OUTPUT

Converts every .xls, .xlsx and .xlsm workbook in the folder SOURCE and its
sub-folders (hidden folders and ~$ lock files left out) to CSV files in the
same folder tree under OUTPUT. SOURCE may also be a single workbook; its CSV
files then go straight into OUTPUT. Blank worksheets give no file.

  --all-sheets   write every worksheet as NAME(SHEET).csv; without it only the
                 first worksheet is written, as NAME.csv
  --utf8         afterwards re-encode the CSV files that this run wrote as
                 UTF-8 where they are not (they are read as GBK); other files
                 under OUTPUT are left alone
  --quiet        print errors only: no progress per workbook, no summary
  --jobs N       convert N workbooks at once (default: the number of
                 processor cores); the files, progress, report and summary
                 are those of converting one after another (--jobs 1)
  --report FILE  append to FILE one line of JSON per workbook: path, status
                 (converted, failed or stopped), reason and csv (the CSV
                 files written); runs side by side may share one FILE
  --password PW  a password to try on encrypted workbooks; give it once
                 per password (also --password=PW)
  --password-file FILE
                 the same for every line of FILE (UTF-8, one password per
                 line, empty lines skipped)
  --version      show the version
  -h, --help     show this text

An encrypted workbook is opened with the spreadsheet application&apos;s built-in
default password (as the desktop application does without asking), then
with the given passwords in order. One that none of them opens gives no
CSV file and the reason &quot;password needed&quot;. Passwords are never printed
or written to disk; a password on the command line is visible to other
users of the machine while the batch runs, a password file is not.

A CSV file of an earlier run is replaced. Two workbooks of one run never
write the same file: the first keeps its name, a later one is named after
its whole name up to the last dot, then with &quot; (2)&quot;, &quot; (3)&quot; added.
Nor do runs side by side into one folder replace each other&apos;s files: the
one that writes later takes the next free name.

Each workbook is reported on stderr as [k/n] PATH, followed by a line
PATH: REASON for each thing of it that failed (as are folders that cannot
be read and names that are not valid in the locale&apos;s encoding). Control
characters in these lines are written as \n, \r, \t or \xHH, so each
report stays on one line. The closing summary goes to stdout; it counts
only the workbooks converted and the CSV files written, then says what
failed.

Exit status: 0 the batch ended normally; 1 no spreadsheet application
could be reached; 2 bad arguments or a missing folder; 3 stopped by a
signal (the CSV file being written is completed or not written at all);
4 the batch ended, but some workbooks, folders or re-encodings failed, or
the report file could not be written.
</translation>
    </message>
    <message>
        <source>--jobs 需要1到%1之间的整数</source>
        <translation>--jobs needs a whole number from 1 to %1</translation>
    </message>
</context>
<context>
    <name>FailureList</name>
    <message>
        <source>转换失败的文件</source>
        <translation>Files that failed</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>复制全部</source>
        <translation>Copy all</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>软件设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>选择文件夹(支持子文件夹)</source>
        <translation>Choose folders (sub-folders included)</translation>
    </message>
    <message>
        <source>Excel文件所在文件夹：</source>
        <translation>Workbook folder:</translation>
    </message>
    <message>
        <source>只转换每个Excel文件中的第一个工作表(Sheet)</source>
        <translation>Only the first worksheet of each workbook</translation>
    </message>
    <message>
        <source>转换后保存到：</source>
        <translation>Save CSV files to:</translation>
    </message>
    <message>
        <source>用UTF-8编码保存</source>
        <translation>Save as UTF-8</translation>
    </message>
    <message>
        <source>转换</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>选择文件夹</source>
        <translation>Choose a folder</translation>
    </message>
    <message>
        <source>Message:</source>
        <translation>Message:</translation>
    </message>
    <message>
        <source>提取文件夹不存在!</source>
        <translation>The source folder does not exist!</translation>
    </message>
    <message>
        <source>保存文件夹不存在!</source>
        <translation>The output folder does not exist!</translation>
    </message>
    <message>
        <source>【无需安装Office或WPS,支持.xls、.xlsx、.xlsm工作簿】</source>
        <translation>[No Office or WPS needed; reads .xls, .xlsx and .xlsm workbooks]</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <comment>how far, then the workbook&apos;s path</comment>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>第%1个(共%2个)</source>
        <translation>Workbook %1 of %2</translation>
    </message>
    <message numerus="yes">
        <source>查看失败原因(%n项)…</source>
        <translation>
            <numerusform>Why %n file failed…</numerusform>
            <numerusform>Why %n files failed…</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>MergeObject</name>
    <message>
        <source>完成excel转csv,开始进行UTF-8编码转换...</source>
        <translation>Excel to CSV done, now re-encoding as UTF-8...</translation>
    </message>
    <message>
        <source>本功能需要电脑中装有微软office或金山wps专业版(注意是专业版,不是个人版)!</source>
        <translation>This needs Microsoft Office or WPS Professional on the computer (the Professional edition, not the Personal one)!</translation>
    </message>
</context>
<context>
    <name>SystemTray</name>
    <message>
        <source>软件设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>退出程序</source>
        <translation>Quit</translation>
    </message>
</context>
</TS>
