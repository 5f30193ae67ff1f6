<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Panel</name>
    <message>
        <source>Set origin</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Make the head&apos;s place the origin of the next jobs?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not connected: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The machine answers again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Machine not answering.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Type the machine&apos;s IP address first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Type the USB device path first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connecting to %1 ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Disconnected.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read finished.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing changed, nothing written.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not written: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Written: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connecting ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connected to %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Link lost</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Machine not answering</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1
%2, %3 %, %4 of %5 copies done, %6 left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 parameter panel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PanelWindow</name>
    <message>
        <source>TCP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No task reported.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>USB device, such as /dev/ttyACM0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connect</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read all</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write changes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write every value you changed (marked) to the machine.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write field</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Write the value whose field has the cursor. A right click on a value&apos;s name reads or writes that value alone.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Jog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hold a button to move the head; release it to stop.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>▲ Y+</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>◀ X−</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>X+ ▶</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>▼ Y−</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Origin</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set origin</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Back to origin</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Task</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pause</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Resume</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Machine</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Messages from the device appear here.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
