<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
    <context>
        <name>AboutDlg</name>
        <message>
            <source>关于</source>
            <translation>About</translation>
        </message>
        <message>
            <source>设备监测软件</source>
            <translation>Device Monitor Application</translation>
        </message>
        <message>
            <source>软件版本：</source>
            <translation>Software Version:</translation>
        </message>
        <message>
            <source>硬件版本：</source>
            <translation>Hardware Version:</translation>
        </message>
        <message>
            <source>固件版本：</source>
            <translation>Firmware Version:</translation>
        </message>
    </context>
    <context>
        <name>CSettingDlg</name>
        <message>
            <source>温馨提示</source>
            <translation>Kind Tips</translation>
        </message>
        <message>
            <source>更改语言需要重新启动才能生效，是否确认更改？</source>
            <translation>Language reset takes effect after restarting.Reset?</translation>
        </message>
    </context>
    <context>
        <name>MainWindow</name>
        <message>
            <source>风扇转速</source>
            <translation>Fan speed</translation>
        </message>
        <message>
            <source>MainWindow</source>
            <translation>MainWindow</translation>
        </message>
        <message>
            <source>CPU温度</source>
            <translation>CPU Temperature</translation>
        </message>
        <message>
            <source>CPU使用率</source>
            <translation>CPU Usage Rate</translation>
        </message>
        <message>
            <source>GPU温度</source>
            <translation>GPU Temperature</translation>
        </message>
        <message>
            <source>GPU使用率</source>
            <translation>GPU Usage Rate</translation>
        </message>
        <message>
            <source>风扇转速(转)</source>
            <translation>Fan RPM</translation>
        </message>
        <message>
            <source>UUID</source>
            <translation>UUID</translation>
        </message>
        <message>
            <source>VID</source>
            <translation>VID</translation>
        </message>
        <message>
            <source>PID</source>
            <translation>PID</translation>
        </message>
        <message>
            <source>软件版本</source>
            <translation>Software Version</translation>
        </message>
        <message>
            <source>硬件版本</source>
            <translation>Hardware version</translation>
        </message>
        <message>
            <source>设备路径</source>
            <translation>Device Path</translation>
        </message>
        <message>
            <source>设备监测软件</source>
            <translation>Device Monitor Application</translation>
        </message>
        <message>
            <source>设备检测软件 - 监测中</source>
            <translation>Device Monitor Application - Monitoring</translation>
        </message>
        <message>
            <source>RPM</source>
            <translation>RPM</translation>
        </message>
        <message>
            <source>温馨提示</source>
            <translation>Kind Tips</translation>
        </message>
        <message>
            <source>您确认要退出程序？</source>
            <translation>Do you confirm to quit？</translation>
        </message>
    </context>
    <context>
        <name>MessageBoxShow</name>
        <message>
            <source>确定</source>
            <translation>Confirm</translation>
        </message>
        <message>
            <source>取消</source>
            <translation>Cancel</translation>
        </message>
    </context>
    <context>
        <name>QObject</name>
        <message>
            <source>错误提示</source>
            <translation>Error Message</translation>
        </message>
        <message>
            <source>当前应用程序遇到异常错误退出!
生成异常文件:%1</source>
            <translation>Application encountered an abnormal error and exited!
 Generate exception file: %1</translation>
        </message>
    </context>
    <context>
        <name>SettingDlg</name>
        <message>
            <source>显示设置</source>
            <translation>Display</translation>
        </message>
        <message>
            <source>轮播间隔（秒）</source>
            <translation>Rotation period (s)</translation>
        </message>
        <message>
            <source>显示项目</source>
            <translation>Shown values</translation>
        </message>
        <message>
            <source>CPU温度</source>
            <translation>CPU temperature</translation>
        </message>
        <message>
            <source>GPU温度</source>
            <translation>GPU temperature</translation>
        </message>
        <message>
            <source>风扇转速</source>
            <translation>Fan speed</translation>
        </message>
        <message>
            <source>报警设置</source>
            <translation>Alarms</translation>
        </message>
        <message>
            <source>温度报警（℃）</source>
            <translation>Temperature alarm (℃)</translation>
        </message>
        <message>
            <source>使用率报警（%）</source>
            <translation>Usage alarm (%)</translation>
        </message>
        <message>
            <source>风扇报警（转/分）</source>
            <translation>Fan alarm (RPM)</translation>
        </message>
        <message>
            <source>桌面通知</source>
            <translation>Desktop notifications</translation>
        </message>
        <message>
            <source>设置</source>
            <translation>Settings</translation>
        </message>
        <message>
            <source>通用设置</source>
            <translation>Common Settings</translation>
        </message>
        <message>
            <source>语言</source>
            <translation>Language</translation>
        </message>
        <message>
            <source>简体中文</source>
            <translation>简体中文</translation>
        </message>
        <message>
            <source>繁體中文</source>
            <translation>繁體中文</translation>
        </message>
        <message>
            <source>English</source>
            <translation>English</translation>
        </message>
        <message>
            <source>开机启动</source>
            <translation>Run when boot</translation>
        </message>
        <message>
            <source>是</source>
            <translation>Yes</translation>
        </message>
        <message>
            <source>否</source>
            <translation>No</translation>
        </message>
        <message>
            <source>温度单位</source>
            <translation>Temperature Unit</translation>
        </message>
        <message>
            <source>摄氏度（℃）</source>
            <translation>Celsius</translation>
        </message>
        <message>
            <source>华氏度（℉）</source>
            <translation>Fahrenheit</translation>
        </message>
        <message>
            <source>确定</source>
            <translation>OK</translation>
        </message>
    </context>
    <context>
        <name>TrayIconMenu</name>
        <message>
            <source>设备列表</source>
            <translation>Devices</translation>
        </message>
        <message>
            <source>无</source>
            <translation>None</translation>
        </message>
        <message>
            <source>打开主面板</source>
            <translation>Open Main Window</translation>
        </message>
        <message>
            <source>设置</source>
            <translation>Settings</translation>
        </message>
        <message>
            <source>检查更新</source>
            <translation>Update</translation>
        </message>
        <message>
            <source>帮助</source>
            <translation>Help</translation>
        </message>
        <message>
            <source>关于</source>
            <translation>About</translation>
        </message>
        <message>
            <source>退出</source>
            <translation>Quit</translation>
        </message>
    </context>
    <context>
        <name>AlarmNotifier</name>
        <message>
            <source>报警：%1</source>
            <translation>Alarm: %1</translation>
        </message>
        <message>
            <source>%1为%2，报警阈值%3。</source>
            <translation>%1 is %2 (alarm at %3).</translation>
        </message>
    </context>
    <context>
        <name>HistoryPane</name>
        <message>
            <source>最小 %1, 最大 %2</source>
            <translation>min %1, max %2</translation>
        </message>
        <message>
            <source>最近10分钟</source>
            <translation>Last 10 minutes</translation>
        </message>
        <message>
            <source>现在</source>
            <translation>now</translation>
        </message>
        <message>
            <source>-%1分</source>
            <translation>-%1 min</translation>
        </message>
    </context>
</TS>
