#include "runtime/platform/serial_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace runtime::platform {
namespace {

PortSettings Scale() { return PortSettings{9600, 0, 8, 1.0f, 0, 1024, 1024}; }

TEST(SerialWin32Test, DevicePathKeepsFiftyNineCharactersOfTheName) {
  char path[64];
  ASSERT_TRUE(MakeDevicePath("COM1", path));
  EXPECT_STREQ(path, "\\\\.\\COM1");

  const std::string long_name(70, 'x');
  ASSERT_TRUE(MakeDevicePath(long_name.c_str(), path));
  EXPECT_EQ(std::strlen(path), 63u);
  EXPECT_EQ(std::string(path + 4), std::string(59, 'x'));

  // The device prefix may be written out; it is not doubled.
  ASSERT_TRUE(MakeDevicePath("\\\\.\\CNCA0", path));
  EXPECT_STREQ(path, "\\\\.\\CNCA0");
}

// Whoever may write Kavrin.inf must not get the program to open a file
// (without sharing, so that its owner fails meanwhile), a share or a pipe
// whose server could act as this user.
TEST(SerialWin32Test, FilesSharesAndPipesAreNeverOpened) {
  const std::string pipe_name =
      "weigh-port-test-" + std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
  HANDLE server = CreateNamedPipeA(("\\\\.\\pipe\\" + pipe_name).c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 64, 64, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);

  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  const std::string file = std::string(folder) + pipe_name + ".txt";
  // Held as a program holds its own file: open to everyone else.
  HANDLE owner =
      CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(owner, INVALID_HANDLE_VALUE);

  for (const std::string& name :
       {"pipe\\" + pipe_name, "\\\\.\\pipe\\" + pipe_name, file, "\\\\.\\" + file,
        std::string("UNC\\localhost\\c$\\x"), std::string("GLOBALROOT\\Device\\Serial0"),
        std::string("\\\\?\\COM1"), std::string(".."), std::string("C:"),
        std::string("//./COM1")}) {
    PortOpenError error;
    EXPECT_EQ(OpenSerialDevice(name.c_str(), PortSettings{9600, 0, 8, 1.0f, 0, 1024, 1024}, &error),
              0);
    EXPECT_EQ(error.reason, PortFailure::kNotAPort) << name << " " << error.systemCode;
    EXPECT_EQ(error.what, NotAPort::kPath) << name;
  }
  // No client ever came: the pipe is still listening.
  EXPECT_FALSE(ConnectNamedPipe(server, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
  CloseHandle(owner);
  CloseHandle(server);
}

// Whatever the last program left in the DCB, the scale's settings (mode 0)
// leave no flow control and no DSR condition that could hold the line
// still, and no byte is dropped or replaced; DTR stays as the device had it.
TEST(SerialWin32Test, ScaleSettingsSetEveryFlowControlField) {
  for (DWORD dtr :
       {DWORD{DTR_CONTROL_DISABLE}, DWORD{DTR_CONTROL_ENABLE}, DWORD{DTR_CONTROL_HANDSHAKE}}) {
    DCB dcb{};
    dcb.fBinary = 0;
    dcb.fDtrControl = dtr;
    dcb.fOutxDsrFlow = 1;
    dcb.fDsrSensitivity = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fNull = 1;
    dcb.fErrorChar = 1;
    dcb.fAbortOnError = 1;
    dcb.fTXContinueOnXoff = 0;
    ApplyPortSettings(Scale(), &dcb);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.fDtrControl, dtr);
  }
  // The other modes change only what they name: mode 1 keeps DSR flow
  // control that the device was set up with.
  DCB dcb{};
  dcb.fOutxDsrFlow = 1;
  dcb.fOutX = 1;
  PortSettings settings = Scale();
  settings.handshake = 1;
  ApplyPortSettings(settings, &dcb);
  EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
  EXPECT_EQ(dcb.fOutX, 1u);
}

TEST(SerialWin32Test, StopBitsCompareExactly) {
  const struct {
    float stop;
    BYTE expected;
  } kCases[] = {{1.0f, ONESTOPBIT},
                {2.0f, TWOSTOPBITS},
                {1.5f, ONE5STOPBITS},
                {0.0f, ONE5STOPBITS},
                {1.0001f, ONE5STOPBITS}};
  for (const auto& c : kCases) {
    DCB dcb{};
    PortSettings settings = Scale();
    settings.stopBits = c.stop;
    ApplyPortSettings(settings, &dcb);
    EXPECT_EQ(dcb.StopBits, c.expected) << c.stop;
  }
}

TEST(SerialWin32Test, HandshakeModes) {
  PortSettings settings = Scale();
  DCB dcb{};
  settings.handshake = 1;
  ApplyPortSettings(settings, &dcb);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

  settings.handshake = 2;
  ApplyPortSettings(settings, &dcb);
  EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));

  settings.handshake = 3;
  ApplyPortSettings(settings, &dcb);
  EXPECT_EQ(dcb.fOutX, 1u);
  EXPECT_EQ(dcb.fInX, 1u);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.XonLim, 102);
  EXPECT_EQ(dcb.XoffLim, 714);
  // Mode 3 leaves CTS and RTS as mode 2 set them.
  EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));

  DCB untouched{};
  untouched.fRtsControl = RTS_CONTROL_TOGGLE;
  settings.handshake = 9;
  ApplyPortSettings(settings, &untouched);
  EXPECT_EQ(untouched.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
  EXPECT_EQ(untouched.fOutX, 0u);
}

}  // namespace
}  // namespace runtime::platform
