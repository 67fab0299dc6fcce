#include "messages/TrafficWords.h"

#include <cstddef>
#include <iterator>

namespace messages {
namespace {

using W = TrafficWord;

constexpr TrafficWordRow kRows[] = {
    {W::Sent, "发送", "sent"},
    {W::Received, "接收", "received"},
    {W::Message, "提示", "message"},
    {W::NoiseBytes, "噪声 {} 字节", "noise, {} bytes"},
    {W::DroppedBytes, "丢弃 {} 字节", "dropped, {} bytes"},
    {W::StatusAccepted, "接受 ({})", "accepted ({})"},
    {W::StatusRefused, "拒绝 ({})", "refused ({})"},
    {W::CrcOk, "正确", "ok"},
    {W::CrcBad, "错误，应为 {}", "bad, expected {}"},
    {W::NotSent, "未发送：串口拒绝了数据", "not sent: the port refused it"},
    {W::WrongEnd, "结束字节错误：{}", "wrong end byte {}"},
    {W::WrongAddress, "地址错误：{}", "wrong address {}"},
    {W::UnexpectedCommand, "不是本操作等待的应答", "not a reply this operation waits for"},
    {W::Refused, "转换器拒绝了请求", "refused by the converter"},
    {W::WrongLength, "数据长度错误：{}，应为 {}", "wrong data length {}, expected {}"},
    {W::BadCrc, "校验码错误：按未收到处理", "bad checksum: taken as not received"},
    {W::NoRequest, "没有等待此应答的请求", "a reply to no request"},
    {W::NotExamined, "未检查：只检查缓冲区中的第一帧", "not examined: only the first frame is"},
    {W::Late, "在检查接收数据之后到达", "arrived after the replies were examined"},
    {W::Incomplete, "不完整的帧", "incomplete frame"},
    {W::BufferFull, "接收缓冲区已满，已收到的字节被丢弃",
     "receive buffer full: the bytes held were dropped"},
    {W::ChunkTooLong, "一次收到的数据超过256字节，多余部分被丢弃",
     "a chunk beyond 256 bytes: the rest was dropped"},
    {W::VersionRecord, "软件版本 {} {}，硬件版本 {}", "software {} {}, hardware {}"},
    {W::ComRecord, "波特率:{}，数据位:{}，校验位:{}，停止位:{}", "{} bit/s, {} data bits, {}, {}"},
    {W::ParityEven, "EVEN", "even parity"},
    {W::ParityOdd, "ODD", "odd parity"},
    {W::ParitySpace, "SPACE", "space parity"},
    {W::ParityMark, "MARK", "mark parity"},
    {W::ParityNone, "NONE", "no parity"},
    {W::ParityCode, "代码 {}", "parity code {}"},
    {W::StopBitsOne, "1", "1 stop bit"},
    {W::StopBitsTwo, "2", "2 stop bits"},
    {W::StopBitsCode, "代码 {}", "stop bits code {}"},
    {W::ConvtRecord,
     "转换模式：{}，转换方向：{}；透明转换选项：{}，发送标识符:{}；起始偏移:{}，长度：{}；"
     "串行帧之间的时间间隔为：{}个字符的时间；数据转换选项：{}，发送标识符:{}",
     "{}, {}; transparent: {}, send ID {}; ID offset {}, length {}; frame gap {} characters; "
     "data: {}, send ID {}"},
    {W::ModeTransparent, "透明转换", "transparent conversion"},
    {W::ModeTransparentWithId, "带ID标识符的透明转换", "transparent conversion with identifier"},
    {W::ModeModbusRtu, "ModbusRTU转换", "Modbus RTU conversion"},
    {W::ModeData, "数据转换", "data conversion"},
    {W::ModeCode, "代码 {}", "mode code {}"},
    {W::DirectionCanToCom, "CAN==>COM", "CAN==>COM"},
    {W::DirectionComToCan, "COM==>CAN", "COM==>CAN"},
    {W::DirectionBoth, "双向", "both ways"},
    {W::DirectionCode, "代码 {}", "direction code {}"},
    {W::TransparentInfo, "允许CAN帧信息转发到串行帧中", "CAN frame information forwarded"},
    {W::TransparentId, "允许CAN帧ID转发到串行帧中", "CAN frame ID forwarded"},
    {W::DataInfo, "包含CAN帧信息", "with CAN frame information"},
    {W::DataId, "包含CAN帧ID", "with CAN frame ID"},
    {W::FlagsJoin, "、", " and "},
    {W::FlagsNone, "无", "none"},
    {W::CanRecord, "波特率:{}，帧类型:{}；{}：{}，{}，过滤验收码:{}，过滤屏蔽码:{}",
     "{}, {}; {}: {}, {}, acceptance code {}, mask {}"},
    {W::CanBitRateCode, "代码 {}", "bit rate code {}"},
    {W::FrameStandard, "标准", "standard frames"},
    {W::FrameExtended, "扩展", "extended frames"},
    {W::FilterStandardOnly, "只接收标准帧", "only standard frames"},
    {W::FilterExtendedOnly, "只接收扩展帧", "only extended frames"},
    {W::FilterIdIgnored, "不区分ID", "ID not distinguished"},
    {W::FilterIdDistinguished, "区分ID", "ID distinguished"},
};

// Row i must describe word i: TrafficWordText indexes the table by id.
constexpr bool RowsFollowTheIds() {
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    if (static_cast<std::size_t>(kRows[i].id) != i) return false;
  return true;
}
static_assert(RowsFollowTheIds(), "kRows must list every TrafficWord once, in the enum's order");
static_assert(std::size(kRows) == static_cast<std::size_t>(TrafficWord::FilterIdDistinguished) + 1,
              "every TrafficWord needs a row");

}  // namespace

std::span<const TrafficWordRow> TrafficWordTable() {
  return kRows;
}

const char* TrafficWordText(TrafficWord id, std::string_view langCode) {
  const TrafficWordRow& row = kRows[static_cast<std::size_t>(id)];
  return langCode == "chn" ? row.chn : row.enu;
}

}  // namespace messages
