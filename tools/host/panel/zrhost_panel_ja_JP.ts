<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Panel</name>
    <message>
        <source>Set origin</source>
        <translation>原点を設定</translation>
    </message>
    <message>
        <source>Make the head&apos;s place the origin of the next jobs?</source>
        <translation>ヘッドの位置を次のジョブの原点にしますか？</translation>
    </message>
    <message>
        <source>Not connected: %1</source>
        <translation>未接続: %1</translation>
    </message>
    <message>
        <source>The machine answers again.</source>
        <translation>機械が再び応答しています。</translation>
    </message>
    <message>
        <source>Machine not answering.</source>
        <translation>機械が応答しません。</translation>
    </message>
    <message>
        <source>Read %1</source>
        <translation>%1 を読み込む</translation>
    </message>
    <message>
        <source>Write %1</source>
        <translation>%1 を書き込む</translation>
    </message>
    <message>
        <source>Type the machine&apos;s IP address first.</source>
        <translation>先に機械の IP アドレスを入力してください。</translation>
    </message>
    <message>
        <source>Type the USB device path first.</source>
        <translation>先に USB デバイスのパスを入力してください。</translation>
    </message>
    <message>
        <source>Connecting to %1 ...</source>
        <translation>%1 に接続中 ...</translation>
    </message>
    <message>
        <source>Disconnected.</source>
        <translation>切断しました。</translation>
    </message>
    <message>
        <source>Read finished.</source>
        <translation>読み込みが完了しました。</translation>
    </message>
    <message>
        <source>Read: %1</source>
        <translation>読み込み: %1</translation>
    </message>
    <message>
        <source>Nothing changed, nothing written.</source>
        <translation>変更がないため、書き込みませんでした。</translation>
    </message>
    <message>
        <source>Not written: %1</source>
        <translation>書き込めませんでした: %1</translation>
    </message>
    <message>
        <source>Written: %1</source>
        <translation>書き込みました: %1</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>未接続</translation>
    </message>
    <message>
        <source>Connecting ...</source>
        <translation>接続中 ...</translation>
    </message>
    <message>
        <source>Connected to %1</source>
        <translation>%1 に接続済み</translation>
    </message>
    <message>
        <source>Link lost</source>
        <translation>接続が切れました</translation>
    </message>
    <message>
        <source>Machine not answering</source>
        <translation>機械が応答しません</translation>
    </message>
    <message>
        <source>%1
%2, %3 %, %4 of %5 copies done, %6 left</source>
        <translation>%1&#xa;%2、%3 %、%5 部中 %4 部完了、残り %6</translation>
    </message>
    <message>
        <source>%1 parameter panel</source>
        <translation>%1 パラメータパネル</translation>
    </message>
</context>
<context>
    <name>PanelWindow</name>
    <message>
        <source>TCP</source>
        <translation>TCP</translation>
    </message>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>No task reported.</source>
        <translation>報告されたタスクはありません。</translation>
    </message>
    <message>
        <source>IP address</source>
        <translation>IP アドレス</translation>
    </message>
    <message>
        <source>USB device, such as /dev/ttyACM0</source>
        <translation>USB デバイス（例: /dev/ttyACM0）</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>接続</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>切断</translation>
    </message>
    <message>
        <source>Parameters</source>
        <translation>パラメータ</translation>
    </message>
    <message>
        <source>Read all</source>
        <translation>すべて読み込む</translation>
    </message>
    <message>
        <source>Write changes</source>
        <translation>変更を書き込む</translation>
    </message>
    <message>
        <source>Write every value you changed (marked) to the machine.</source>
        <translation>変更した値（印付き）をすべて機械に書き込みます。</translation>
    </message>
    <message>
        <source>Write field</source>
        <translation>この項目を書き込む</translation>
    </message>
    <message>
        <source>Write the value whose field has the cursor. A right click on a value&apos;s name reads or writes that value alone.</source>
        <translation>カーソルのある項目の値を書き込みます。値の名前を右クリックすると、その値だけを読み書きできます。</translation>
    </message>
    <message>
        <source>Jog</source>
        <translation>ジョグ</translation>
    </message>
    <message>
        <source>Hold a button to move the head; release it to stop.</source>
        <translation>ボタンを押している間ヘッドが動き、離すと止まります。</translation>
    </message>
    <message>
        <source>▲ Y+</source>
        <translation>▲ Y+</translation>
    </message>
    <message>
        <source>◀ X−</source>
        <translation>◀ X−</translation>
    </message>
    <message>
        <source>X+ ▶</source>
        <translation>X+ ▶</translation>
    </message>
    <message>
        <source>▼ Y−</source>
        <translation>▼ Y−</translation>
    </message>
    <message>
        <source>Origin</source>
        <translation>原点</translation>
    </message>
    <message>
        <source>Set origin</source>
        <translation>原点を設定</translation>
    </message>
    <message>
        <source>Back to origin</source>
        <translation>原点に戻る</translation>
    </message>
    <message>
        <source>Task</source>
        <translation>タスク</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>一時停止</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>再開</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Machine</source>
        <translation>機械</translation>
    </message>
    <message>
        <source>Messages from the device appear here.</source>
        <translation>デバイスからのメッセージがここに表示されます。</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>設定</translation>
    </message>
</context>
</TS>
