<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
    <context>
        <name>QFtp</name>
        <message>
            <source>Connected to host %1</source>
            <translation>Connected to host %1</translation>
        </message>
        <message>
            <source>Not connected</source>
            <translation>Not connected</translation>
        </message>
        <message>
            <source>Host %1 not found</source>
            <translation>Host %1 not found</translation>
        </message>
        <message>
            <source>Connection refused to host %1</source>
            <translation>Connection refused to host %1</translation>
        </message>
        <message>
            <source>Connection timed out to host %1</source>
            <translation>Connection timed out to host %1</translation>
        </message>
        <message>
            <source>Connection refused for data connection</source>
            <translation>Connection refused for data connection</translation>
        </message>
        <message>
            <source>Unknown error</source>
            <translation>Unknown error</translation>
        </message>
        <message>
            <source>Host %1 did not answer for %2 seconds</source>
            <translation>Host %1 did not answer for %2 seconds</translation>
        </message>
    </context>
    <context>
        <name>CUpgradeDialog</name>
        <message>
            <source>下载更新</source>
            <translation>Downloading</translation>
        </message>
        <message>
            <source>程序正在下载更新中，请稍后......</source>
            <translation>The application is downloading updates, please wait...</translation>
        </message>
        <message>
            <source>取消更新</source>
            <translation>Cancel upgrade</translation>
        </message>
        <message>
            <source>更新提示</source>
            <translation>Upgrade Tips</translation>
        </message>
        <message>
            <source>检测到新版本：</source>
            <translation>A new version has been detected：</translation>
        </message>
        <message>
            <source>, 是否需要更新？</source>
            <translation>,confirm whether to upgrade?</translation>
        </message>
        <message>
            <source>新版本程序安装包已下载完成，是否立即重启安装？</source>
            <translation>The new version application installation package has downloaded,restart and install immediately?</translation>
        </message>
        <message>
            <source>是否确认停止下载更新？</source>
            <translation>Confirm stop download updates？</translation>
        </message>
        <message>
            <source>温馨提示</source>
            <translation>Kind Tips</translation>
        </message>
        <message>
            <source>当前软件已是最新版本！</source>
            <translation>This is the latest version!</translation>
        </message>
        <message>
            <source>安装程序无法启动（%1），安装包已保存在：%2</source>
            <translation>The installer could not be started (%1); the package is kept at: %2</translation>
        </message>
        <message>
            <source>安装包签名校验失败，已删除：%1</source>
            <translation>The installer's signature could not be verified, so it was deleted: %1</translation>
        </message>
        <message>
            <source>正在检查更新，请稍候。</source>
            <translation>An update check is already running, please wait.</translation>
        </message>
    </context>
</TS>
