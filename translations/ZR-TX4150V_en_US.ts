<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>ZRCommonInterface</name>
    <message>
        <source>USB 地址</source>
        <translation>USB address</translation>
    </message>
    <message>
        <source>IP 地址</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>当前任务</source>
        <translation>Current job</translation>
    </message>
    <message>
        <source>   关</source>
        <translation>   Off</translation>
    </message>
    <message>
        <source>   开</source>
        <translation>   On</translation>
    </message>
    <message>
        <source>   同步送料</source>
        <translation>   Synchronous feed</translation>
    </message>
    <message>
        <source>   异步送料</source>
        <translation>   Asynchronous feed</translation>
    </message>
    <message>
        <source>自动送料</source>
        <translation>Auto feed</translation>
    </message>
    <message>
        <source>送料模式</source>
        <translation>Feed mode</translation>
    </message>
    <message>
        <source>送料距离</source>
        <translation>Feed length</translation>
    </message>
    <message>
        <source>横梁中心距离</source>
        <translation>Beam center distance</translation>
    </message>
    <message>
        <source>气泵延时</source>
        <translation>Air pump delay</translation>
    </message>
    <message>
        <source>送料速度</source>
        <translation>Feed speed</translation>
    </message>
    <message>
        <source>送料</source>
        <translation>Feeding</translation>
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
        <translation>Camera offset</translation>
    </message>
    <message>
        <source>出厂设置</source>
        <translation>Factory settings</translation>
    </message>
    <message>
        <source>缩放</source>
        <translation>Scale</translation>
    </message>
    <message>
        <source>幅宽</source>
        <translation>Work area</translation>
    </message>
    <message>
        <source>固件版本</source>
        <translation>Firmware version</translation>
    </message>
    <message>
        <source>机器编号</source>
        <translation>Machine number</translation>
    </message>
    <message>
        <source>PCB编号</source>
        <translation>PCB number</translation>
    </message>
    <message>
        <source>PCB版本</source>
        <translation>PCB version</translation>
    </message>
    <message>
        <source>配置号</source>
        <translation>Configuration number</translation>
    </message>
    <message>
        <source>Unique ID</source>
        <translation>Unique ID</translation>
    </message>
    <message>
        <source>型号</source>
        <translation>Model</translation>
    </message>
    <message>
        <source>机器信息</source>
        <translation>Machine information</translation>
    </message>
    <message>
        <source>   速度优先</source>
        <translation>   Speed first</translation>
    </message>
    <message>
        <source>   平衡</source>
        <translation>   Balanced</translation>
    </message>
    <message>
        <source>   精度优先</source>
        <translation>   Precision first</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>连接方式</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>份数</source>
        <translation>Copies</translation>
    </message>
    <message>
        <source>份</source>
        <translation>copies</translation>
    </message>
    <message>
        <source>二维码文件</source>
        <translation>QR code file</translation>
    </message>
    <message>
        <source>plt</source>
        <translation>PLT</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>继续</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>QR PLT</source>
        <translation>QR PLT</translation>
    </message>
    <message>
        <source>设原点</source>
        <translation>Set origin</translation>
    </message>
    <message>
        <source>回原点</source>
        <translation>Return to origin</translation>
    </message>
    <message>
        <source>任务模式</source>
        <translation>Job mode</translation>
    </message>
    <message>
        <source>心跳</source>
        <translation>Heartbeat</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>工作文件</source>
        <translation>Job file</translation>
    </message>
    <message>
        <source>切割质量</source>
        <translation>Cut quality</translation>
    </message>
    <message>
        <source>PU 速度</source>
        <translation>PU speed</translation>
    </message>
    <message>
        <source>数据上传</source>
        <translation>Data upload</translation>
    </message>
    <message>
        <source>电机状态</source>
        <translation>Motor status</translation>
    </message>
    <message>
        <source>获取二维码</source>
        <translation>Get QR code</translation>
    </message>
    <message>
        <source>pplt</source>
        <translation>PPLT</translation>
    </message>
    <message>
        <source>工具偏移</source>
        <translation>Tool offset</translation>
    </message>
    <message>
        <source>  拖刀</source>
        <translation>  Drag knife</translation>
    </message>
    <message>
        <source>  转刀</source>
        <translation>  Rotary knife</translation>
    </message>
    <message>
        <source>工具类型</source>
        <translation>Tool type</translation>
    </message>
    <message>
        <source>速度</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>压力</source>
        <translation>Pressure</translation>
    </message>
    <message>
        <source>转刀校准</source>
        <translation>Rotary knife calibration</translation>
    </message>
    <message>
        <source>SP1</source>
        <translation>SP1</translation>
    </message>
    <message>
        <source>拖刀</source>
        <translation>Drag knife</translation>
    </message>
    <message>
        <source>转刀</source>
        <translation>Rotary knife</translation>
    </message>
    <message>
        <source>SP2</source>
        <translation>SP2</translation>
    </message>
    <message>
        <source>X 移动</source>
        <translation>X jog</translation>
    </message>
    <message>
        <source>Y 移动</source>
        <translation>Y jog</translation>
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
        <translation>Name</translation>
    </message>
    <message>
        <source>主动转刀平板机</source>
        <translation>Active rotary-knife flatbed cutter</translation>
    </message>
</context>
</TS>
