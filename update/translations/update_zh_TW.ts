<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW" sourcelanguage="zh_CN">
    <context>
        <name>QFtp</name>
        <message>
            <source>Connected to host %1</source>
            <translation>已連接到服務器%1</translation>
        </message>
        <message>
            <source>Not connected</source>
            <translation>未連接</translation>
        </message>
        <message>
            <source>Host %1 not found</source>
            <translation>未找到服務器</translation>
        </message>
        <message>
            <source>Connection refused to host %1</source>
            <translation>連接被服務器%1拒絕</translation>
        </message>
        <message>
            <source>Connection timed out to host %1</source>
            <translation>連接服務器%1超時</translation>
        </message>
        <message>
            <source>Connection refused for data connection</source>
            <translation>連接數據中斷</translation>
        </message>
        <message>
            <source>Unknown error</source>
            <translation>未知錯誤</translation>
        </message>
        <message>
            <source>Host %1 did not answer for %2 seconds</source>
            <translation>服務器%1在%2秒內沒有回應</translation>
        </message>
    </context>
</TS>
