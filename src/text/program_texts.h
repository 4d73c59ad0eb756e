// Every text the program shows through UnscrambleText, each named once with
// its readable form (UTF-8). A call site writes Unscrambled<texts::Name>()
// (text/scrambled_text.h); the readable form is read only by the compiler.
// tests/e2e/test_program_texts.py reads this file to check that neither
// form of any text stands in parvelo.exe.
#pragma once

#include <string_view>

#define PARVELO_TEXT(Name, readable)                               \
  struct Name {                                                    \
    static constexpr std::string_view Plain() { return readable; } \
  }

namespace texts {

// Button captions.
PARVELO_TEXT(StartCaption, "开始");
PARVELO_TEXT(StopCaption, "停止");
PARVELO_TEXT(SavingCaption, "正在保存…");
PARVELO_TEXT(PauseCaption, "暂停");
PARVELO_TEXT(ResumeCaption, "继续");
// After the recorded time on the Start button while paused.
PARVELO_TEXT(PausedMark, "已暂停");

// Selector entries: no modifier; the three frame rates.
PARVELO_TEXT(NoModifierEntry, "无");
PARVELO_TEXT(LowRateEntry, "低");
PARVELO_TEXT(MediumRateEntry, "中");
PARVELO_TEXT(HighRateEntry, "高");

// The computer's sound box: what it does, or why it is greyed.
PARVELO_TEXT(ComputerSoundTip, "录制电脑播放的声音；与录音同时勾选时两者混在一起");
PARVELO_TEXT(NoOutputDeviceTip, "没有播放设备，无法录制电脑的声音");
PARVELO_TEXT(NoLoopbackTip, "此系统不支持录制电脑的声音");

// Messages.
PARVELO_TEXT(CodecLibraryMissing, "当前目录下找不到 x264vfw.dll");
PARVELO_TEXT(HotkeyTaken, "热键注册失败：该组合键已被占用");
PARVELO_TEXT(FileNotCreated, "无法创建录像文件");
PARVELO_TEXT(NoCaptureBackend, "无法截取屏幕，程序即将退出");
PARVELO_TEXT(WriteFailed, "录像文件写入失败（磁盘已满？），录制已停止");
PARVELO_TEXT(CompressorFailed, "视频编码器出错，录制已停止");
PARVELO_TEXT(NoCodec, "无法加载视频编码器，本次录制没有画面");
PARVELO_TEXT(AudioBusy, "上一次录音尚未结束，本次录制没有声音");
PARVELO_TEXT(NoComputerSound, "无法录制电脑的声音，本次录制没有声音");
PARVELO_TEXT(MicrophoneOnly, "无法录制电脑的声音，本次只录麦克风的声音");

}  // namespace texts

#undef PARVELO_TEXT
