<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP" sourcelanguage="zh_CN">
<context>
    <name>ZRCommonInterface</name>
    <message>
        <source>USB 地址</source>
        <translation>USB アドレス</translation>
    </message>
    <message>
        <source>IP 地址</source>
        <translation>IP アドレス</translation>
    </message>
    <message>
        <source>当前任务</source>
        <translation>現在のジョブ</translation>
    </message>
    <message>
        <source>   关</source>
        <translation>   オフ</translation>
    </message>
    <message>
        <source>   开</source>
        <translation>   オン</translation>
    </message>
    <message>
        <source>   同步送料</source>
        <translation>   同期送り</translation>
    </message>
    <message>
        <source>   异步送料</source>
        <translation>   非同期送り</translation>
    </message>
    <message>
        <source>自动送料</source>
        <translation>自動送り</translation>
    </message>
    <message>
        <source>送料模式</source>
        <translation>送りモード</translation>
    </message>
    <message>
        <source>送料距离</source>
        <translation>送り長さ</translation>
    </message>
    <message>
        <source>横梁中心距离</source>
        <translation>ビーム中心距離</translation>
    </message>
    <message>
        <source>气泵延时</source>
        <translation>エアポンプ遅延</translation>
    </message>
    <message>
        <source>送料速度</source>
        <translation>送り速度</translation>
    </message>
    <message>
        <source>送料</source>
        <translation>材料送り</translation>
    </message>
    <message>
        <source>x</source>
        <translation>x</translation>
    </message>
    <message>
        <source>y</source>
        <translation>y</translation>
    </message>
    <message>
        <source>摄像头偏移</source>
        <translation>カメラオフセット</translation>
    </message>
    <message>
        <source>出厂设置</source>
        <translation>工場出荷時設定</translation>
    </message>
    <message>
        <source>缩放</source>
        <translation>スケール</translation>
    </message>
    <message>
        <source>幅宽</source>
        <translation>作業範囲</translation>
    </message>
    <message>
        <source>固件版本</source>
        <translation>ファームウェアバージョン</translation>
    </message>
    <message>
        <source>机器编号</source>
        <translation>機械番号</translation>
    </message>
    <message>
        <source>PCB编号</source>
        <translation>基板番号</translation>
    </message>
    <message>
        <source>PCB版本</source>
        <translation>基板バージョン</translation>
    </message>
    <message>
        <source>配置号</source>
        <translation>構成番号</translation>
    </message>
    <message>
        <source>Unique ID</source>
        <translation>固有ID</translation>
    </message>
    <message>
        <source>型号</source>
        <translation>型番</translation>
    </message>
    <message>
        <source>机器信息</source>
        <translation>機械情報</translation>
    </message>
    <message>
        <source>   速度优先</source>
        <translation>   速度優先</translation>
    </message>
    <message>
        <source>   平衡</source>
        <translation>   バランス</translation>
    </message>
    <message>
        <source>   精度优先</source>
        <translation>   精度優先</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>ポート</translation>
    </message>
    <message>
        <source>连接方式</source>
        <translation>接続方式</translation>
    </message>
    <message>
        <source>份数</source>
        <translation>部数</translation>
    </message>
    <message>
        <source>份</source>
        <translation>部</translation>
    </message>
    <message>
        <source>二维码文件</source>
        <translation>QRコードファイル</translation>
    </message>
    <message>
        <source>plt</source>
        <translation>PLT</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>一時停止</translation>
    </message>
    <message>
        <source>继续</source>
        <translation>再開</translation>
    </message>
    <message>
        <source>QR PLT</source>
        <translation>QR PLT</translation>
    </message>
    <message>
        <source>设原点</source>
        <translation>原点設定</translation>
    </message>
    <message>
        <source>回原点</source>
        <translation>原点復帰</translation>
    </message>
    <message>
        <source>任务模式</source>
        <translation>ジョブモード</translation>
    </message>
    <message>
        <source>心跳</source>
        <translation>ハートビート</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>秒</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>プレビュー</translation>
    </message>
    <message>
        <source>工作文件</source>
        <translation>作業ファイル</translation>
    </message>
    <message>
        <source>切割质量</source>
        <translation>カット品質</translation>
    </message>
    <message>
        <source>PU 速度</source>
        <translation>PU 速度</translation>
    </message>
    <message>
        <source>数据上传</source>
        <translation>データアップロード</translation>
    </message>
    <message>
        <source>电机状态</source>
        <translation>モーター状態</translation>
    </message>
    <message>
        <source>获取二维码</source>
        <translation>QRコード取得</translation>
    </message>
    <message>
        <source>pplt</source>
        <translation>PPLT</translation>
    </message>
    <message>
        <source>工具偏移</source>
        <translation>ツールオフセット</translation>
    </message>
    <message>
        <source>  拖刀</source>
        <translation>  ドラッグナイフ</translation>
    </message>
    <message>
        <source>  转刀</source>
        <translation>  ロータリーナイフ</translation>
    </message>
    <message>
        <source>工具类型</source>
        <translation>ツール種類</translation>
    </message>
    <message>
        <source>速度</source>
        <translation>速度</translation>
    </message>
    <message>
        <source>压力</source>
        <translation>圧力</translation>
    </message>
    <message>
        <source>转刀校准</source>
        <translation>ロータリーナイフ校正</translation>
    </message>
    <message>
        <source>SP1</source>
        <translation>SP1</translation>
    </message>
    <message>
        <source>拖刀</source>
        <translation>ドラッグナイフ</translation>
    </message>
    <message>
        <source>转刀</source>
        <translation>ロータリーナイフ</translation>
    </message>
    <message>
        <source>SP2</source>
        <translation>SP2</translation>
    </message>
    <message>
        <source>X 移动</source>
        <translation>X 移動</translation>
    </message>
    <message>
        <source>Y 移动</source>
        <translation>Y 移動</translation>
    </message>
</context>
<context>
    <name>ZRDeviceInterface</name>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>TCP</source>
        <translation>TCP</translation>
    </message>
</context>
<context>
    <name>ZRTX4150V</name>
    <message>
        <source>名称</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>主动转刀平板机</source>
        <translation>ロータリーナイフ式フラットベッドカッター</translation>
    </message>
</context>
</TS>
