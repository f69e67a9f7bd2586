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
</TS>
