#include "messages/Messages.h"

#include <cstddef>
#include <iterator>

namespace messages {
namespace {

constexpr const char* kDevice = "N_Device";
constexpr const char* kParams = "N_Params";
constexpr const char* kFiles = "N_Files";

constexpr MessageGroup kGroups[] = {
    {kDevice, "设备操作"},
    {kParams, "参数设置"},
    {kFiles, "参数文件"},
};

// The identifier ranges are those of protocol/PanelRules.h: 0x7FF for
// standard frames, 0x1FFFFFFF for extended frames.
constexpr MessageRow kRows[] = {
    {Msg::SendError, "N_SendError", kDevice, "发送出错！", "Send error!"},
    {Msg::RestoreSendError, "N_RestoreSendError", kDevice, "恢复默认配置发送出错！",
     "Send \"Restore Default Configuration Command\" error."},
    {Msg::Timeout, "N_Timeout", kDevice, "操作超时!", "operating timeout."},
    {Msg::ReadOk, "N_ReadOk", kDevice, "获取配置成功!", "acquire configuration succeed!"},
    {Msg::WriteOk, "N_WriteOk", kDevice, "写配置成功!", "write configuration succeed!"},
    {Msg::RestoreFail, "N_RestoreFail", kDevice, "获取默认设置参数失败！",
     "Gets the default parameter settings fail!"},
    {Msg::OperatingError, "N_OperatingError", kDevice, "操作出错：", "Operating error:"},
    {Msg::Connect, "N_Connect", kDevice, "连接", "Connect"},
    {Msg::Disconnect, "N_Disconnect", kDevice, "断开", "Disconnect"},
    {Msg::PortLost, nullptr, kDevice, "串口已断开，请在适配器重新接入后重新连接。",
     "The serial port was lost. Reconnect when the adapter is back."},
    {Msg::NoDevice, nullptr, kDevice, "无设备", "no device"},
    {Msg::SetSendError, "N_SetSendError", kParams, "设置发送出错！",
     "Send \"Setting Command\" error !"},
    {Msg::SetSendErrorCan, nullptr, kParams, "设置发送出错！", "Send \"Setting Command\" error."},
    {Msg::StdIdRange, "N_StdIdRange", kParams, "当帧类型为标准帧时，有效值范围为：[0,7FF]",
     "When the frame type is a standard frame, valid value range: [0,7FF]"},
    {Msg::ExtIdRange, "N_ExtIdRange", kParams, "当帧类型为扩展帧时，有效值范围为：[0,1FFFFFFF]",
     "When the frame type for the extension frame, valid values range: [0,1FFFFFFF]"},
    {Msg::StdIdLength, "N_StdIdLength", kParams,
     "当帧类型为标准帧时，CAN ID在串行帧中的长度范围:[1,2]字节.",
     "When the frame type is a standard frame, CAN ID in the serial frame length range: [1,2] "
     "bytes."},
    {Msg::FilterOn, "N_FilterOn", kParams, "过滤有效", "filtration valid"},
    {Msg::FilterOff, "N_FilterOff", kParams, "过滤无效", "filtration invalid"},
    {Msg::SelectImportFile, "N_SelectImportFile", kFiles, "请选择导入文件！",
     "Please select the import file!"},
    {Msg::FileSizeBad, "N_FileSizeBad", kFiles, "文件大小不一致，已被破坏！",
     "File size is inconsistent, it has been destroyed!"},
    {Msg::CmdLengthBad, "N_CmdLengthBad", kFiles, "命令长度不一致！",
     "Command length inconsistent!"},
    {Msg::FileCorrupted, "N_FileCorrupted", kFiles, "文件已被破坏！", "The file is corrupted."},
    {Msg::CrcBad, "N_CrcBad", kFiles, "CRC不一致，文件已被破坏！",
     "CRC are inconsistent, the file is corrupted! "},
    {Msg::SaveOk, "N_SaveOk", kFiles, "数据参数保存成功！", "Data parameters saved successfully!"},
    {Msg::FileExists, "N_FileExists", kFiles, "文件已经存在,是否覆盖?", nullptr},
    {Msg::BinFilter, "N_BinFilter", kFiles, "BIN文件(*.bin)", "BIN Files(*.bin)"},
    {Msg::FieldOutOfRange, nullptr, kParams, "%1 %2 超出有效值范围：[%3,%4]",
     "%1 %2 is outside the valid values range: [%3,%4]"},
    {Msg::FieldNotHexId, nullptr, kParams, "%1 “%2” 不是八位十六进制数",
     "%1 \"%2\" is not eight hexadecimal digits"},
    {Msg::TextFilter, nullptr, kFiles, "文本文件(*.txt)", "Text Files(*.txt)"},
    {Msg::TextFileExists, nullptr, kFiles, "文件已经存在,是否覆盖?",
     "The file already exists. Overwrite it?"},
    {Msg::TrafficSaved, nullptr, kFiles, "已保存 %1 行通信记录。", "%1 traffic rows saved."},
    {Msg::FindAnswered, nullptr, kDevice, "有转换器应答的串口：",
     "Ports where a converter answered:"},
    {Msg::FindVersion, nullptr, kDevice, "%1：软件版本 %2 %3，硬件版本 %4",
     "%1: software %2 %3, hardware %4"},
    {Msg::FindRefused, nullptr, kDevice, "%1：拒绝了版本查询（状态 0x%2）",
     "%1: refused the version query (status 0x%2)"},
    {Msg::FindSelected, nullptr, kDevice, "已选择 %1。", "%1 is selected."},
    {Msg::FindNone, nullptr, kDevice, "没有转换器应答。", "No converter answered."},
    {Msg::FindNotAsked, nullptr, kDevice, "未查询的串口：", "Not asked:"},
};

// Row i must describe message i: MessageText indexes the table by id.
constexpr bool RowsFollowTheIds() {
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    if (static_cast<std::size_t>(kRows[i].id) != i) return false;
  return true;
}
static_assert(RowsFollowTheIds(), "kRows must list every Msg once, in the enum's order");
static_assert(std::size(kRows) == static_cast<std::size_t>(Msg::FindNotAsked) + 1,
              "every Msg needs a row");

}  // namespace

std::span<const MessageRow> MessageTable() {
  return kRows;
}

std::span<const MessageGroup> MessageGroups() {
  return kGroups;
}

const char* MessageText(Msg id, std::string_view langCode) {
  const MessageRow& row = kRows[static_cast<std::size_t>(id)];
  if (langCode == "chn" || row.enu == nullptr) return row.chn;
  return row.enu;
}

}  // namespace messages
