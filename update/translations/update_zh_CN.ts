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
</TS>
