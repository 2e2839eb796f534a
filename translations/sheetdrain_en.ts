<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
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
