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
    <context>
        <name>CUpgradeDialog</name>
        <message>
            <source>下载更新</source>
            <translation>下載更新</translation>
        </message>
        <message>
            <source>程序正在下载更新中，请稍后......</source>
            <translation>程序正在下載更新中，請稍候...</translation>
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
            <translation>檢測到新版本：</translation>
        </message>
        <message>
            <source>, 是否需要更新？</source>
            <translation>，是否需要更新？</translation>
        </message>
        <message>
            <source>新版本程序安装包已下载完成，是否立即重启安装？</source>
            <translation>新版本程序安裝包已下載完成，是否立即重啟安裝？</translation>
        </message>
        <message>
            <source>是否确认停止下载更新？</source>
            <translation>是否確認停止下載更新？</translation>
        </message>
        <message>
            <source>温馨提示</source>
            <translation>溫馨提示</translation>
        </message>
        <message>
            <source>当前软件已是最新版本！</source>
            <translation>當前軟體已是最新版本！</translation>
        </message>
        <message>
            <source>安装程序无法启动（%1），安装包已保存在：%2</source>
            <translation>安裝程式無法啟動（%1），安裝包已保存在：%2</translation>
        </message>
        <message>
            <source>安装包签名校验失败，已删除：%1</source>
            <translation>安裝包簽名校驗失敗，已刪除：%1</translation>
        </message>
        <message>
            <source>正在检查更新，请稍候。</source>
            <translation>正在檢查更新，請稍候。</translation>
        </message>
    </context>
</TS>
