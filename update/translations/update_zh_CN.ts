<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="zh_CN">
    <context>
        <name>QFtp</name>
        <message>
            <source>Connected to host %1</source>
            <translation>连接到服务器%1</translation>
        </message>
        <message>
            <source>Not connected</source>
            <translation>未连接</translation>
        </message>
        <message>
            <source>Host %1 not found</source>
            <translation>服务器%1未发现</translation>
        </message>
        <message>
            <source>Connection refused to host %1</source>
            <translation>连接被服务器%1拒绝</translation>
        </message>
        <message>
            <source>Connection timed out to host %1</source>
            <translation>连接服务器%1超时</translation>
        </message>
        <message>
            <source>Connection refused for data connection</source>
            <translation>连接数据中断</translation>
        </message>
        <message>
            <source>Unknown error</source>
            <translation>未知错误</translation>
        </message>
        <message>
            <source>Host %1 did not answer for %2 seconds</source>
            <translation>服务器%1在%2秒内没有响应</translation>
        </message>
    </context>
    <context>
        <name>CUpgradeDialog</name>
        <message>
            <source>下载更新</source>
            <translation>下载更新</translation>
        </message>
        <message>
            <source>程序正在下载更新中，请稍后......</source>
            <translation>程序正在下载更新中，请稍候...</translation>
        </message>
        <message>
            <source>取消更新</source>
            <translation>取消更新</translation>
        </message>
        <message>
            <source>更新提示</source>
            <translation>更新提示</translation>
        </message>
        <message>
            <source>检测到新版本：</source>
            <translation>检测到新版本：</translation>
        </message>
        <message>
            <source>, 是否需要更新？</source>
            <translation>，是否需要更新？</translation>
        </message>
        <message>
            <source>新版本程序安装包已下载完成，是否立即重启安装？</source>
            <translation>新版本程序安装包已下载完成，是否立即重启安装？</translation>
        </message>
        <message>
            <source>是否确认停止下载更新？</source>
            <translation>是否确认停止下载更新？</translation>
        </message>
        <message>
            <source>温馨提示</source>
            <translation>温馨提示</translation>
        </message>
        <message>
            <source>当前软件已是最新版本！</source>
            <translation>当前软件已是最新版本！</translation>
        </message>
        <message>
            <source>安装程序无法启动（%1），安装包已保存在：%2</source>
            <translation>安装程序无法启动（%1），安装包已保存在：%2</translation>
        </message>
        <message>
            <source>安装包签名校验失败，已删除：%1</source>
            <translation>安装包签名校验失败，已删除：%1</translation>
        </message>
        <message>
            <source>正在检查更新，请稍候。</source>
            <translation>正在检查更新，请稍候。</translation>
        </message>
    </context>
</TS>
