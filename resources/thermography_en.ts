<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>ThermographyClass</name>
    <message>
        <source>智能测温系统</source>
        <translation>Temperature measurement system</translation>
    </message>
    <message>
        <source>华氏度 ℉</source>
        <translation>Fahrenheit</translation>
    </message>
    <message>
        <source>摄氏度 ℃</source>
        <translation>Celsius</translation>
    </message>
    <message>
        <source>中文/英文</source>
        <translation>ZH/EN</translation>
    </message>
    <message>
        <source>七天正常与异常波动</source>
        <translation>Record in the last 7 days</translation>
    </message>
    <message>
        <source>累计测温人数</source>
        <translation>Tested total amount</translation>
    </message>
    <message>
        <source>累计异常人数</source>
        <translation>Total Abnormal</translation>
    </message>
    <message>
        <source>累计正常人数</source>
        <translation>Total normal</translation>
    </message>
    <message>
        <source>今日测温人数</source>
        <translation>Tested pepole today</translation>
    </message>
    <message>
        <source>今日异常人数</source>
        <translation>Abnormal today</translation>
    </message>
    <message>
        <source>今日正常人数</source>
        <translation>Normal today</translation>
    </message>
    <message>
        <source>人次</source>
        <translation>people</translation>
    </message>
    <message>
        <source>重置</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>截图</source>
        <translation>Screenshot</translation>
    </message>
    <message>
        <source>音频</source>
        <translation>Audio</translation>
    </message>
    <message>
        <source>倒置</source>
        <translation>Upside down</translation>
    </message>
    <message>
        <source>断开连接</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>文件夹</source>
        <translation>Bin</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>添加设备</source>
        <translation>Add device</translation>
    </message>
    <message>
        <source>报警截图</source>
        <translation>Screenshot</translation>
    </message>
    <message>
        <source>暂无截图</source>
        <translation>No Screenshot</translation>
    </message>
</context>
<context>
    <name>Thermography</name>
    <message>
        <source>未找到设备 %1</source>
        <translation>Device %1 not found</translation>
    </message>
    <message>
        <source>重置未能写入数据文件</source>
        <translation>The reset could not be saved to the data file</translation>
    </message>
    <message>
        <source>导出CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>导出成功</source>
        <translation>Export succeeded</translation>
    </message>
    <message>
        <source>导出失败</source>
        <translation>Export failed</translation>
    </message>
    <message>
        <source>Ardenix system %1</source>
        <translation>Ardenix system %1</translation>
    </message>
    <message>
        <source>华氏度 ℉</source>
        <translation>Fahrenheit</translation>
    </message>
    <message>
        <source>摄氏度 ℃</source>
        <translation>Celsius</translation>
    </message>
    <message>
        <source>暂无截图</source>
        <translation>No Screenshot</translation>
    </message>
    <message>
        <source>密码错误</source>
        <translation>Incorrect password</translation>
    </message>
    <message>
        <source>登录失败</source>
        <translation>Login failed</translation>
    </message>
    <message>
        <source>报警服务不支持温度报警</source>
        <translation>The alarm service does not support temperature alarms</translation>
    </message>
    <message>
        <source>截图成功</source>
        <translation>Screenshot succeeded</translation>
    </message>
    <message>
        <source>截图失败</source>
        <translation>Screenshot fail</translation>
    </message>
    <message>
        <source>统计保存失败</source>
        <translation>Statistics not saved</translation>
    </message>
    <message>
        <source>场地数据库连接失败</source>
        <translation>Site database not reachable</translation>
    </message>
    <message>
        <source>磁盘空间不足</source>
        <translation>Disk space low</translation>
    </message>
    <message>
        <source>体温正常</source>
        <translation>Normal temperature</translation>
    </message>
    <message>
        <source>体温异常</source>
        <translation>Abnormal temperature</translation>
    </message>
    <message>
        <source>请连接设备</source>
        <translation>Please connect the device</translation>
    </message>
    <message>
        <source>当前路径不存在</source>
        <translation>The current path does not exist</translation>
    </message>
    <message>
        <source>获取温度失败</source>
        <translation>Failed to get temperature</translation>
    </message>
    <message>
        <source>确定切换温度单位为摄氏度吗？</source>
        <translation>Change to Celsius?</translation>
    </message>
    <message>
        <source>确定切换温度单位为华氏度吗？</source>
        <translation>Change to Fahrenheit?</translation>
    </message>
    <message>
        <source>切换成功</source>
        <translation>Successfully switched</translation>
    </message>
    <message>
        <source>切换失败</source>
        <translation>Switching failed</translation>
    </message>
</context>
<context>
    <name>resetdataDig</name>
    <message>
        <source>提示</source>
        <translation>Tip</translation>
    </message>
    <message>
        <source>是否重置数据？</source>
        <translation>Whether data reset?</translation>
    </message>
    <message>
        <source>(切换为华氏度可能存在±0.1℉误差)</source>
        <translation>(Changement make ±0.1℉ Error )</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>QSetupDig</name>
    <message>
        <source>设置</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>高温预警值设置：</source>
        <translation>Temp setting:</translation>
    </message>
    <message>
        <source>设置失败</source>
        <translation>Fail</translation>
    </message>
    <message>
        <source>报警音开关：</source>
        <translation>Alarm voice:</translation>
    </message>
    <message>
        <source>异常提醒开关：</source>
        <translation>Alarm message:</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>off</translation>
    </message>
    <message>
        <source>开启</source>
        <translation>on</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>温度不在区间内</source>
        <translation>Not in temperautre range</translation>
    </message>
</context>
<context>
    <name>QadddeviceDig</name>
    <message>
        <source>添加设备</source>
        <translation>add device</translation>
    </message>
    <message>
        <source>正在搜索设备...</source>
        <translation>searching for devices...</translation>
    </message>
    <message>
        <source>搜索列表</source>
        <translation>search list</translation>
    </message>
    <message>
        <source>(请选择一个设备)</source>
        <translation>(please choose a device)</translation>
    </message>
    <message>
        <source>用户名或密码错误</source>
        <translation>wrong user name or password</translation>
    </message>
    <message>
        <source>用户名：</source>
        <translation>user name:</translation>
    </message>
    <message>
        <source>密码：</source>
        <translation>password:</translation>
    </message>
    <message>
        <source>用户名或密码错误！</source>
        <translation>wrong user name or password!</translation>
    </message>
    <message>
        <source>请输入密码</source>
        <translation>enter password</translation>
    </message>
    <message>
        <source>请选中设备</source>
        <translation>please select a device</translation>
    </message>
    <message>
        <source>其它错误</source>
        <translation>other error</translation>
    </message>
    <message>
        <source>重新搜索</source>
        <translation>search again</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>QChartshowDig</name>
    <message>
        <source>检测正常数</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>检测异常数</source>
        <translation>Abnormal number</translation>
    </message>
    <message>
        <source>导出CSV…</source>
        <translation>Export CSV…</translation>
    </message>
</context>
<context>
    <name>QscreenshotDig</name>
    <message>
        <source>测温：37°</source>
        <translation>Temperature:37℃</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>异常</source>
        <translation>Abnormal</translation>
    </message>
    <message>
        <source>测温：%1℉</source>
        <translation>Temp:%1℉</translation>
    </message>
    <message>
        <source>测温：%1℃</source>
        <translation>Temp:%1℃</translation>
    </message>
    <message>
        <source>截图失败</source>
        <translation>Screenshot fail</translation>
    </message>
</context>
<context>
    <name>Qshowpicture</name>
    <message>
        <source>查看图片</source>
        <translation>Check photos</translation>
    </message>
</context>
<context>
    <name>deviceshowDig</name>
    <message>
        <source>断开连接</source>
        <translation>Disconnect</translation>
    </message>
</context>
</TS>
