#pragma once

// What the soak benchmark does to a main window and what the operator must
// see for it: one row per case, all in one table so that every expectation
// can be checked against the device operations' rules at a glance.
#include <QString>
#include <QStringList>
#include <span>

namespace soak {

// The operator's action of a case.
enum class Action {
  kConnect,     // btnConn while disconnected
  kReadConvt,   // btnReadCfg on the conversion tab
  kReadCom,     // btnReadCfg on the serial-line tab
  kReadCan,     // btnReadCfg on the CAN tab
  kWrite,       // btnWriteCfg
  kRestore,     // btnDefCfg
  kDisconnect,  // btnConn while connected
  kIdle,        // nothing (the cut alone)
};

// What happens to the window while the action runs.
enum class Cut {
  kNone,
  kUnplug,      // the simulator is killed: the adapter is gone
  kDisconnect,  // the operator disconnects before the operation ends
};

// The messages the operator sees, in order.
enum class Outcome {
  kReadSucceeds,        // "acquire configuration succeed!"
  kWriteSucceeds,       // "write configuration succeed!"
  kTimesOut,            // "operating timeout."
  kRefusedThenTimeout,  // the restore refusal, then "operating timeout."
  kPortLost,            // the lost-port message, once
  kNothing,             // no message at all
};

struct Case {
  const char* name;
  Action action;
  // Control lines for the simulator after "fault all none", separated by ';'
  // ("CMD_CAN_GET silence"); each becomes "fault <line>".
  const char* faults;
  Outcome outcome;
  bool connectedAfter;
  // Until when, counted from the click, late replies of the fault may still
  // come; the next operation waits for them so that it starts clean.
  int lateUntilMs = 0;
  Cut cut = Cut::kNone;
  int weight = 1;
};

// Delays "beyond the window" exceed the collection window by 3 s: with
// several windows in one process another window's write pauses the shared
// thread for a second at a time, which can postpone an examination.
inline constexpr Case kCases[] = {
    // Connect: the version query (single-frame search), then the three gets
    // (frame-stream search), 1 s windows.
    {"connect", Action::kConnect, "", Outcome::kReadSucceeds, true, 0, Cut::kNone, 8},
    {"connect, noise before every reply", Action::kConnect, "all noise 8", Outcome::kReadSucceeds,
     true},
    {"connect, stray 0x7F before the version reply", Action::kConnect, "CMD_GET_VERSION stray 8",
     Outcome::kTimesOut, false},
    {"connect, stray 0x7F before the serial-line reply", Action::kConnect, "CMD_COM_GET stray 8",
     Outcome::kReadSucceeds, true},
    {"connect, replies split 7 bytes / 40 ms", Action::kConnect, "all split 7 40",
     Outcome::kReadSucceeds, true},
    {"connect, version reply split beyond the window", Action::kConnect,
     "CMD_GET_VERSION split 10 2000", Outcome::kTimesOut, false, 4000},
    {"connect, replies 200 ms late", Action::kConnect, "all delay 200", Outcome::kReadSucceeds,
     true},
    {"connect, version reply 4 s late", Action::kConnect, "CMD_GET_VERSION delay 4000",
     Outcome::kTimesOut, false, 4000},
    {"connect, no converter (silence)", Action::kConnect, "all silence", Outcome::kTimesOut, false},
    {"connect, version refused", Action::kConnect, "CMD_GET_VERSION refuse", Outcome::kTimesOut,
     false},
    {"connect, version from address 0x02", Action::kConnect, "CMD_GET_VERSION wrongaddr",
     Outcome::kTimesOut, false},
    {"connect, version data length 8", Action::kConnect, "CMD_GET_VERSION wronglen",
     Outcome::kTimesOut, false},
    {"connect, bad checksums", Action::kConnect, "all badcrc", Outcome::kReadSucceeds, true},
    {"connect, CAN reply missing", Action::kConnect, "CMD_CAN_GET silence", Outcome::kTimesOut,
     true},
    {"connect, conversion reply data length 15", Action::kConnect, "CMD_CONVT_GET wronglen",
     Outcome::kTimesOut, true},
    {"connect, serial-line reply data length one short", Action::kConnect, "CMD_COM_GET wronglen",
     Outcome::kReadSucceeds, true},

    // Read of the shown tab: one get, 1 s window, 1 s time-out.
    {"read conversion", Action::kReadConvt, "", Outcome::kReadSucceeds, true, 0, Cut::kNone, 2},
    {"read serial line", Action::kReadCom, "", Outcome::kReadSucceeds, true, 0, Cut::kNone, 2},
    {"read CAN", Action::kReadCan, "", Outcome::kReadSucceeds, true, 0, Cut::kNone, 2},
    {"read serial line, noise", Action::kReadCom, "all noise 8", Outcome::kReadSucceeds, true},
    {"read CAN, stray 0x7F in the noise", Action::kReadCan, "all stray 8", Outcome::kReadSucceeds,
     true},
    {"read conversion, split 7 bytes / 40 ms", Action::kReadConvt, "all split 7 40",
     Outcome::kReadSucceeds, true},
    {"read serial line, 400 ms late", Action::kReadCom, "all delay 400", Outcome::kReadSucceeds,
     true},
    {"read CAN, 4 s late", Action::kReadCan, "all delay 4000", Outcome::kTimesOut, true, 4000},
    {"read conversion, split beyond the window", Action::kReadConvt, "all split 10 2000",
     Outcome::kTimesOut, true, 4000},
    {"read serial line, silence", Action::kReadCom, "all silence", Outcome::kTimesOut, true},
    {"read CAN, refused", Action::kReadCan, "all refuse", Outcome::kTimesOut, true},
    {"read conversion, data length 15", Action::kReadConvt, "all wronglen", Outcome::kTimesOut,
     true},
    {"read CAN, data length one short", Action::kReadCan, "all wronglen", Outcome::kReadSucceeds,
     true},
    {"read serial line, address 0x02", Action::kReadCom, "all wrongaddr", Outcome::kTimesOut, true},
    {"read conversion, bad checksum", Action::kReadConvt, "all badcrc", Outcome::kReadSucceeds,
     true},

    // Write: three sets 500 ms apart, 1 s window, 500 ms time-out.
    {"write", Action::kWrite, "", Outcome::kWriteSucceeds, true, 0, Cut::kNone, 3},
    {"write, noise", Action::kWrite, "all noise 8", Outcome::kWriteSucceeds, true},
    {"write, stray 0x7F in the noise", Action::kWrite, "all stray 8", Outcome::kWriteSucceeds,
     true},
    {"write, split 7 bytes / 40 ms", Action::kWrite, "all split 7 40", Outcome::kWriteSucceeds,
     true},
    {"write, 200 ms late", Action::kWrite, "all delay 200", Outcome::kWriteSucceeds, true},
    {"write, CAN acknowledgement 4 s late", Action::kWrite, "CMD_CAN_SET delay 4000",
     Outcome::kTimesOut, true, 5000},
    {"write, serial-line acknowledgement missing", Action::kWrite, "CMD_COM_SET silence",
     Outcome::kTimesOut, true},
    {"write, conversion refused", Action::kWrite, "CMD_CONVT_SET refuse", Outcome::kTimesOut, true},
    {"write, acknowledgements one byte short", Action::kWrite, "all wronglen",
     Outcome::kWriteSucceeds, true},
    {"write, CAN acknowledgement from address 0x02", Action::kWrite, "CMD_CAN_SET wrongaddr",
     Outcome::kTimesOut, true},
    {"write, bad checksums", Action::kWrite, "all badcrc", Outcome::kWriteSucceeds, true},

    // Restore: the acknowledgement (head-of-buffer search) after 3 s, then
    // the three gets after 3 s more.
    {"restore", Action::kRestore, "", Outcome::kReadSucceeds, true, 0, Cut::kNone, 2},
    {"restore, refused (0x21)", Action::kRestore, "CMD_RESTORE_DEFAULT refuse",
     Outcome::kRefusedThenTimeout, true},
    {"restore, refused (0x55)", Action::kRestore, "CMD_RESTORE_DEFAULT refuse 0x55",
     Outcome::kRefusedThenTimeout, true},
    // Noise ahead of the acknowledgement hides it from the head-of-buffer search.
    {"restore, noise before the acknowledgement", Action::kRestore, "CMD_RESTORE_DEFAULT noise 8",
     Outcome::kTimesOut, true},
    {"restore, acknowledgement data length one short", Action::kRestore,
     "CMD_RESTORE_DEFAULT wronglen", Outcome::kReadSucceeds, true},
    {"restore, split 7 bytes / 40 ms", Action::kRestore, "all split 7 40", Outcome::kReadSucceeds,
     true},
    {"restore, acknowledgement 7 s late", Action::kRestore, "CMD_RESTORE_DEFAULT delay 7000",
     Outcome::kTimesOut, true, 7000},
    {"restore, silence", Action::kRestore, "all silence", Outcome::kTimesOut, true},
    {"restore, CAN read-back missing", Action::kRestore, "CMD_CAN_GET silence", Outcome::kTimesOut,
     true},
    {"restore, read-back noise and stray 0x7F", Action::kRestore,
     "CMD_CONVT_GET noise 8;CMD_COM_GET stray 8", Outcome::kReadSucceeds, true},
    {"restore, acknowledgement from address 0x02", Action::kRestore,
     "CMD_RESTORE_DEFAULT wrongaddr", Outcome::kTimesOut, true},

    {"disconnect", Action::kDisconnect, "", Outcome::kNothing, false, 0, Cut::kNone, 6},

    // The adapter unplugged (the simulator killed) and the operator's
    // disconnect, each while connected; the operation running ends at once.
    {"unplug while idle", Action::kIdle, "", Outcome::kPortLost, false, 0, Cut::kUnplug, 2},
    {"unplug during a read", Action::kReadCom, "all silence", Outcome::kPortLost, false, 0,
     Cut::kUnplug},
    {"unplug during a write", Action::kWrite, "all silence", Outcome::kPortLost, false, 0,
     Cut::kUnplug},
    {"unplug during a restore", Action::kRestore, "all silence", Outcome::kPortLost, false, 0,
     Cut::kUnplug},
    {"disconnect during a read", Action::kReadCan, "all silence", Outcome::kNothing, false, 0,
     Cut::kDisconnect},
    {"disconnect during a write", Action::kWrite, "all silence", Outcome::kNothing, false, 0,
     Cut::kDisconnect},
    {"disconnect during a restore", Action::kRestore, "all silence", Outcome::kNothing, false, 0,
     Cut::kDisconnect},
};

inline bool NeedsConnection(Action action) {
  return action != Action::kConnect;
}

// The messages of an outcome in the current language.
inline QStringList ExpectedMessages(Outcome outcome, bool chinese) {
  const auto text = [chinese](const char* chn, const char* enu) {
    return QString::fromUtf8(chinese ? chn : enu);
  };
  const QString timeout = text("操作超时!", "operating timeout.");
  switch (outcome) {
    case Outcome::kReadSucceeds:
      return {text("获取配置成功!", "acquire configuration succeed!")};
    case Outcome::kWriteSucceeds:
      return {text("写配置成功!", "write configuration succeed!")};
    case Outcome::kTimesOut:
      return {timeout};
    case Outcome::kRefusedThenTimeout:
      return {text("获取默认设置参数失败！", "Gets the default parameter settings fail!"), timeout};
    case Outcome::kPortLost:
      return {text("串口已断开，请在适配器重新接入后重新连接。",
                   "The serial port was lost. Reconnect when the adapter is back.")};
    case Outcome::kNothing:
      return {};
  }
  return {};
}

// By design, the longest time from the click to the last message of an
// action: the sends' pauses, the collection windows and the time-outs.
inline int DesignMs(Action action) {
  switch (action) {
    case Action::kConnect:
      return 2 + 1000 + 20 + 20 + 1000 + 1000;  // version, then the read times out
    case Action::kReadConvt:
    case Action::kReadCom:
    case Action::kReadCan:
      return 1000 + 1000;
    case Action::kWrite:
      return 500 + 500 + 1000 + 500;
    case Action::kRestore:
      return 3000 + 20 + 20 + 3000 + 1000;  // read-back times out
    case Action::kDisconnect:
    case Action::kIdle:
      return 0;
  }
  return 0;
}

// The collection window that starts when the click handler returns: a cut
// comes well inside it, before anything is examined.
inline int FirstWindowMs(Action action) {
  return action == Action::kRestore ? 3000 : 1000;
}

// The time-out a completed operation would have left running if it failed
// to stop it: the wait for a stray late message.
inline int LingerMs(Action action) {
  return action == Action::kWrite ? 600 : 1100;
}

}  // namespace soak
