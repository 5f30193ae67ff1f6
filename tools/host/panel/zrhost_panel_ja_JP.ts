<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>JobPage</name>
    <message>
        <source>Open a cut file (SVG, DXF, PLT) or drop one on the window.</source>
        <translation>カットファイル (SVG、DXF、PLT) を開くか、ウィンドウにドロップしてください。</translation>
    </message>
    <message>
        <source>Job</source>
        <translation>ジョブ</translation>
    </message>
    <message>
        <source>Copies</source>
        <translation>部数</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>開始</translation>
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
        <source>Open a cut file: SVG, DXF or PLT.</source>
        <translation>カットファイルを開いてください: SVG、DXF または PLT。</translation>
    </message>
    <message>
        <source>The work record appears here when a job ends.</source>
        <translation>ジョブが終わると作業記録がここに表示されます。</translation>
    </message>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>Open ...</source>
        <translation>開く ...</translation>
    </message>
    <message>
        <source>No file</source>
        <translation>ファイルなし</translation>
    </message>
    <message>
        <source>Placement</source>
        <translation>配置</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>倍率</translation>
    </message>
    <message>
        <source>Rotation</source>
        <translation>回転</translation>
    </message>
    <message>
        <source>Move</source>
        <translation>移動</translation>
    </message>
    <message>
        <source>Rows × columns</source>
        <translation>行 × 列</translation>
    </message>
    <message>
        <source>Gap</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>Mirror</source>
        <translation>反転</translation>
    </message>
    <message>
        <source>Fit to the table</source>
        <translation>テーブルに合わせる</translation>
    </message>
    <message>
        <source>Cutting</source>
        <translation>カット</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>ステーション</translation>
    </message>
    <message>
        <source>Station 1</source>
        <translation>ステーション 1</translation>
    </message>
    <message>
        <source>Station 2</source>
        <translation>ステーション 2</translation>
    </message>
    <message>
        <source>Holes first, shortest travel</source>
        <translation>穴を先に、最短の移動</translation>
    </message>
    <message>
        <source>Drag knife</source>
        <translation>ドラッグナイフ</translation>
    </message>
    <message>
        <source>Blade offset</source>
        <translation>刃先オフセット</translation>
    </message>
    <message>
        <source>Swivel above</source>
        <translation>旋回する角度</translation>
    </message>
    <message>
        <source>Overcut</source>
        <translation>オーバーカット</translation>
    </message>
    <message>
        <source>Figures</source>
        <translation>数値</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>サイズ</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>Cut length</source>
        <translation>カット長</translation>
    </message>
    <message>
        <source>Travel</source>
        <translation>移動長</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>時間</translation>
    </message>
    <message>
        <source>Open a cut file</source>
        <translation>カットファイルを開く</translation>
    </message>
    <message>
        <source>Cut files (%1)</source>
        <translation>カットファイル (%1)</translation>
    </message>
    <message>
        <source>Drawing %1 ...</source>
        <translation>%1 を描画中 ...</translation>
    </message>
    <message>
        <source>Planning %1 ...</source>
        <translation>%1 を配置中 ...</translation>
    </message>
    <message>
        <source>Reading %1 ...</source>
        <translation>%1 を読み込み中 ...</translation>
    </message>
    <message>
        <source>Writing %1 for the machine ...</source>
        <translation>%1 を機械用に書き出し中 ...</translation>
    </message>
    <message>
        <source>Nothing to show.</source>
        <translation>表示するものがありません。</translation>
    </message>
    <message>
        <source>Cancelled.</source>
        <translation>中止しました。</translation>
    </message>
    <message>
        <source>Sent %1 to the machine.</source>
        <translation>%1 を機械に送りました。</translation>
    </message>
    <message>
        <source>Ready: %1.</source>
        <translation>準備完了: %1。</translation>
    </message>
    <message>
        <source>The machine&apos;s table and knife are not known: %1</source>
        <translation>機械のテーブルとナイフが不明です: %1</translation>
    </message>
    <message>
        <source>Stop the job</source>
        <translation>ジョブの停止</translation>
    </message>
    <message>
        <source>Stop the job on the machine? What is cut stays cut.</source>
        <translation>機械のジョブを停止しますか？カット済みの部分はそのままです。</translation>
    </message>
    <message>
        <source>unknown until the machine tells its speeds</source>
        <translation>機械の速度が分かるまで不明</translation>
    </message>
    <message>
        <source>%1 a copy, %2 in all</source>
        <translation>1 部 %1、合計 %2</translation>
    </message>
    <message>
        <source>%1: copy %2 of %3 done, %4 left</source>
        <translation>%1: %3 部中 %2 部完了、残り %4</translation>
    </message>
    <message>
        <source>At the table&apos;s origin</source>
        <translation>テーブルの原点</translation>
    </message>
    <message>
        <source>In the middle of the table</source>
        <translation>テーブルの中央</translation>
    </message>
    <message>
        <source>Where the file has it</source>
        <translation>ファイルのとおりの位置</translation>
    </message>
    <message>
        <source>Place</source>
        <translation>配置</translation>
    </message>
    <message>
        <source>Layers</source>
        <translation>レイヤー</translation>
    </message>
    <message>
        <source>%1: %2, contours: %3</source>
        <translation>%1: %2、輪郭: %3</translation>
    </message>
    <message>
        <source>Advance the material</source>
        <translation>材料を送ってください</translation>
    </message>
    <message>
        <source>%1, then press OK.</source>
        <translation>%1。終わったら OK を押してください。</translation>
    </message>
    <message>
        <source>Stopped before %1 %2 of %3.</source>
        <translation>%3 のうち %1 %2 の前で停止しました。</translation>
    </message>
    <message>
        <source>%1 × %2</source>
        <translation>%1 × %2</translation>
    </message>
    <message>
        <source>%1: %2 of %3 of %4 in %5 s, %6 cut.</source>
        <translation>%1: %4 の %3 のうち %2 (%5 秒、%6 カット)。</translation>
    </message>
    <message>
        <source>1 copy</source>
        <translation>1 部</translation>
    </message>
    <message>
        <source>%1 copies</source>
        <translation>%1 部</translation>
    </message>
</context>
<context>
    <name>JobStatus</name>
    <message>
        <source>pending</source>
        <translation>待機中</translation>
    </message>
    <message>
        <source>held</source>
        <translation>保留</translation>
    </message>
    <message>
        <source>processing</source>
        <translation>処理中</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>cancelled</source>
        <translation>取り消し</translation>
    </message>
    <message>
        <source>aborted</source>
        <translation>中止</translation>
    </message>
    <message>
        <source>completed</source>
        <translation>完了</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>中断</translation>
    </message>
</context>
<context>
    <name>Panel</name>
    <message>
        <source>Jobs the machine service was given, newest first.</source>
        <translation>マシンサービスが受け付けたジョブ（新しい順）。</translation>
    </message>
    <message>
        <source>No history: %1</source>
        <translation>履歴はありません: %1</translation>
    </message>
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
        <source>Machine not answering</source>
        <translation>機械が応答しません</translation>
    </message>
    <message>
        <source>Show the machine&apos;s messages as sent</source>
        <translation>機械のメッセージを送られたとおりに表示</translation>
    </message>
    <message>
        <source>Cutting the rest of job %1.</source>
        <translation>ジョブ %1 の残りをカットしています。</translation>
    </message>
    <message>
        <source>The rest of job %1: %2%3</source>
        <translation>ジョブ %1 の残り: %2%3</translation>
    </message>
</context>
<context>
    <name>PanelWindow</name>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Submitted</source>
        <translation>受付</translation>
    </message>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>Copies</source>
        <translation>部数</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>Cut mm</source>
        <translation>カット mm</translation>
    </message>
    <message>
        <source>Took</source>
        <translation>所要時間</translation>
    </message>
    <message>
        <source>By</source>
        <translation>送信者</translation>
    </message>
    <message>
        <source>Cloud</source>
        <translation>クラウド</translation>
    </message>
    <message>
        <source>History</source>
        <translation>履歴</translation>
    </message>
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
    <message>
        <source>Cut the copies of the selected job that the machine did not confirm, through the machine service</source>
        <translation>選択したジョブのうち機械が確認していない部を、マシンサービスを通じてカットします</translation>
    </message>
    <message>
        <source>Cut the rest</source>
        <translation>残りをカット</translation>
    </message>
    <message>
        <source>Cut the unfinished copy too, from the first contour the machine did not confirm (a little back along it), before the whole copies left</source>
        <translation>残りの部の前に、未完了の部も、機械が確認していない最初の輪郭から (少し手前から) カットします</translation>
    </message>
    <message>
        <source>From the first contour not confirmed</source>
        <translation>確認されていない最初の輪郭から</translation>
    </message>
</context>
<context>
    <name>Protocol</name>
    <message>
        <source>status %1</source>
        <translation>状態 %1</translation>
    </message>
    <message>
        <source>cutting</source>
        <translation>カット中</translation>
    </message>
    <message>
        <source>paused</source>
        <translation>一時停止中</translation>
    </message>
    <message>
        <source>finished</source>
        <translation>完了</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>%1 (machine: %2)</source>
        <translation>%1 (機械: %2)</translation>
    </message>
    <message>
        <source>%1 %  copy %2/%3  %4 left  %5  %6</source>
        <translation>%1 %  部 %2/%3  残り %4  %5  %6</translation>
    </message>
</context>
<context>
    <name>Result</name>
    <message>
        <source>Job finished</source>
        <translation>ジョブ完了</translation>
    </message>
    <message>
        <source>Job stopped</source>
        <translation>ジョブ停止</translation>
    </message>
    <message>
        <source>Link lost</source>
        <translation>接続が切れました</translation>
    </message>
    <message>
        <source>Job refused</source>
        <translation>ジョブ拒否</translation>
    </message>
    <message>
        <source>Job not started</source>
        <translation>ジョブ未開始</translation>
    </message>
    <message>
        <source>No answer</source>
        <translation>応答なし</translation>
    </message>
    <message>
        <source>Not cut</source>
        <translation>未カット</translation>
    </message>
    <message>
        <source>Job cancelled</source>
        <translation>ジョブ取消</translation>
    </message>
</context>
<context>
    <name>Session</name>
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
</context>
<context>
    <name>ShopBox</name>
    <message>
        <source>Shop</source>
        <translation>加工</translation>
    </message>
    <message>
        <source>Nest the copies on sheets</source>
        <translation>部をシートにネスティング</translation>
    </message>
    <message>
        <source>Small parts in holes</source>
        <translation>小さな部品を穴の中に</translation>
    </message>
    <message>
        <source>Bridges</source>
        <translation>ブリッジ</translation>
    </message>
    <message>
        <source>on holes too</source>
        <translation>穴にも</translation>
    </message>
    <message>
        <source>Weeding frame and lines</source>
        <translation>カス取り枠と線</translation>
    </message>
    <message>
        <source>Tiles larger than the table</source>
        <translation>テーブルより大きいものはタイルに分割</translation>
    </message>
    <message>
        <source>A list of turns (0, 90, 180, 270) or one step (45).</source>
        <translation>回転角の一覧 (0, 90, 180, 270) または刻み (45)。</translation>
    </message>
    <message>
        <source>the table</source>
        <translation>テーブル</translation>
    </message>
    <message>
        <source>Sheet</source>
        <translation>シート</translation>
    </message>
    <message>
        <source>Spacing</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>Turns</source>
        <translation>回転</translation>
    </message>
</context>
</TS>
