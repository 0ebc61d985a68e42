<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>FailureWords</name>
    <message>
        <location filename="../failure_words.cpp" line="15"/>
        <source>要写入的文件被拒绝</source>
        <translation>A file to write was refused</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="16"/>
        <source>未找到设备</source>
        <translation>Device not found</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="17"/>
        <source>无法打开设备</source>
        <translation>Device could not be opened</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="18"/>
        <source>无权访问设备</source>
        <translation>No permission on the device</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="19"/>
        <source>设备拒绝开始下载</source>
        <translation>The device refused to begin</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="20"/>
        <source>传输失败</source>
        <translation>Transfer failed</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="21"/>
        <source>设备未及时连接</source>
        <translation>No device came in time</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="22"/>
        <location filename="../failure_words.cpp" line="40"/>
        <source>写入被中断</source>
        <translation>Write interrupted</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="23"/>
        <location filename="../failure_words.cpp" line="44"/>
        <source>无可写入的配方</source>
        <translation>No recipe version can be written</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="32"/>
        <source>写入程序被信号 %1 结束</source>
        <translation>Writer ended by signal %1</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="33"/>
        <source>写入失败（代码 %1）</source>
        <translation>Write failed (code %1)</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="34"/>
        <source>写入失败</source>
        <translation>Write failed</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="40"/>
        <source>写入被中断（%1）</source>
        <translation>Write interrupted (%1)</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="42"/>
        <source>停止时被强制结束</source>
        <translation>Killed after the stop</translation>
    </message>
    <message>
        <location filename="../failure_words.cpp" line="43"/>
        <source>未能启动写入程序</source>
        <translation>The writer could not be started</translation>
    </message>
</context>
<context>
    <name>SlotTile</name>
    <message>
        <location filename="../slot_tile.cpp" line="62"/>
        <source>○ 空闲</source>
        <translation>○ Empty</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="63"/>
        <source>▶ 写入中</source>
        <translation>▶ Writing</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="64"/>
        <source>✔ 完成</source>
        <translation>✔ Done</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="65"/>
        <source>✖ 失败</source>
        <translation>✖ Failed</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="66"/>
        <source>⏏ 请取下</source>
        <translation>⏏ Remove board</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="67"/>
        <source>■ 已中断</source>
        <translation>■ Interrupted</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="68"/>
        <source>◔ 请稍候</source>
        <translation>◔ Please wait</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="76"/>
        <source>未接收：若是新板，请取下后重新插入</source>
        <translation>Not taken: if it is a new board, unplug it and plug it in again</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="77"/>
        <source>未接收：工位正在停止</source>
        <translation>Not taken: the station is stopping</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="78"/>
        <source>未接收：本批数量已满</source>
        <translation>Not taken: the lot is complete</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="79"/>
        <source>未接收此板，请取下</source>
        <translation>Board not taken: remove it</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="85"/>
        <source>请稍候 %1 秒</source>
        <translation>Wait %1 s</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="86"/>
        <source>请稍候：上一块板的写入程序正在结束</source>
        <translation>Please wait: the writer of the board before is ending</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="94"/>
        <source>⚠ 检查此槽位</source>
        <translation>⚠ Check this slot</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="96"/>
        <source>%1 / %2 块失败</source>
        <translation>%1 of %2 boards failed</translation>
    </message>
    <message>
        <location filename="../slot_tile.cpp" line="98"/>
        <source>最近：%1</source>
        <translation>Last: %1</translation>
    </message>
</context>
<context>
    <name>StationWindow</name>
    <message>
        <location filename="../station_window.cpp" line="42"/>
        <source>Tamsolt 工位</source>
        <translation>Tamsolt Station</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="48"/>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="49"/>
        <location filename="../station_window.cpp" line="156"/>
        <location filename="../station_window.cpp" line="197"/>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="77"/>
        <source>今日记录（本机日期）</source>
        <translation>Today&apos;s record (this machine&apos;s date)</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="91"/>
        <source>无法启动 %1：%2</source>
        <translation>Cannot start %1: %2</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="105"/>
        <source>未运行</source>
        <translation>Not running</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="181"/>
        <source>停止中：不再接收新板，正在写入的板将写完。再按“停止”立即中断。</source>
        <translation>Stopping: no new board is taken, boards writing will finish. Press Stop again to interrupt them.</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="154"/>
        <source>运行中：插入板即开始写入</source>
        <translation>Running: a board plugged in is written</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="182"/>
        <source>中断</source>
        <translation>Interrupt</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="179"/>
        <source>正在中断写入中的板…</source>
        <translation>Interrupting the boards writing…</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="187"/>
        <source>监视程序异常结束</source>
        <translation>The station program ended abnormally</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="187"/>
        <source>监视程序已结束（退出码 %1）</source>
        <translation>The station program has ended (exit code %1)</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="214"/>
        <source>今日记录不可用</source>
        <translation>Today&apos;s record is not available</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="223"/>
        <source>%1：%2/%3</source>
        <translation>%1: %2/%3</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="225"/>
        <source>共 %1 块，成功 %2 块。按结果：%3。按槽位（成功/共）：%4</source>
        <translation>%1 boards, %2 done. By outcome: %3. By slot (done/all): %4</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="257"/>
        <source>  [锁定 %1]</source>
        <translation>  [pinned %1]</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="262"/>
        <source>配方 %1 版本 %2</source>
        <translation>Recipe %1 version %2</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="264"/>
        <source>（线体数据库不可用：使用缓存中的版本）</source>
        <translation> (line database unavailable: the cached version)</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="267"/>
        <source>（尚未收到要写入的文件）</source>
        <translation>(no files to write received yet)</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="271"/>
        <source>成功 %1   失败 %2   每小时 %3 块</source>
        <translation>Written %1   Failed %2   %3 boards/hour</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="274"/>
        <source>   中断 %1</source>
        <translation>   Interrupted %1</translation>
    </message>
    <message>
        <location filename="../station_window.cpp" line="294"/>
        <source>还有板正在写入。关闭窗口会中断它们。仍要关闭吗？</source>
        <translation>Boards are still writing. Closing the window interrupts them. Close anyway?</translation>
    </message>
</context>
</TS>
