#!/usr/bin/env bash
# windows_imports_test.sh OBJDUMP PROGRAM.EXE...
#
# Every program we ship for Windows must load on Windows XP SP3. Windows
# refuses to start a program that imports a single function its DLLs do not
# export, or whose header asks for a newer Windows, and then nothing at all
# happens on the station. This reads each program's header and import table
# (with the cross objdump) and fails on an import that is not in the list
# below, on a header that asks for more than Windows XP (5.1), on a program
# that is not a static 32-bit one, and on any DLL but KERNEL32 and msvcrt,
# which Windows might take from the program's folder.
set -euo pipefail

objdump=$1
shift

# Functions known to be exported by the DLLs of Windows XP SP3, as DLL:name.
# Add a function here only after checking its documented minimum Windows
# version ("Minimum supported client" on its reference page) and finding
# Windows XP or earlier; name the page in the commit message. Never add one
# whose minimum is Vista or later (GetTickCount64, the SRW locks, condition
# variables, InitOnce...): look for an XP equivalent instead.
#
# Added after the first list, each with its documented minimum client:
#   PurgeComm, FreeConsole, GetStdHandle, GetFileType, GetCurrentDirectoryA,
#   QueryDosDeviceA, RegOpenKeyExA, RegEnumValueA, RegCloseKey: Windows 2000
#   Professional. AttachConsole: Windows XP. SystemFunction036 (RtlGenRandom):
#   Windows XP. msvcrt's _strnicmp: every msvcrt.dll.
#   GetFileInformationByHandle: Windows XP. GetModuleFileNameA,
#   CryptAcquireContextA, CryptCreateHash, CryptHashData, CryptGetHashParam,
#   CryptDestroyHash, CryptReleaseContext: Windows XP (CALG_SHA_256 with the
#   PROV_RSA_AES provider from Windows XP SP3 on; the code that uses it
#   compiles with _WIN32_WINNT=0x0501 and NTDDI_VERSION for XP SP3).
#   For --check's account of owners and of the program folder's access list:
#   GetFileSecurityW, GetSecurityDescriptorOwner, GetSecurityDescriptorDacl,
#   GetAce, LookupAccountSidA, ConvertSidToStringSidA, OpenProcessToken,
#   GetTokenInformation, EqualSid, IsWellKnownSid:
#   Windows XP.
#   For paths with letters outside the ANSI code page: GetModuleFileNameW,
#   GetCurrentDirectoryW, CreateFileW, FormatMessageW: Windows XP.
#   WriteConsoleW, GetConsoleMode: Windows 2000 Professional.
#   GetSystemDirectoryW: Windows 2000 Professional. LoadLibraryExW: Windows XP.
#   CreateActCtxW, ActivateActCtx, DeactivateActCtx: Windows XP. msvcrt's
#   _wcsnicmp: every msvcrt.dll.
#   For --check's list of DLLs where the loader might look: FindFirstFileW,
#   FindNextFileW, GetFileAttributesW: Windows XP. msvcrt's _wcsicmp: every
#   msvcrt.dll.
#   For a line given back as it was found: GetCommTimeouts: Windows XP.
#   For a log line cut back to where it began: GetFileSizeEx,
#   SetFilePointerEx, SetEndOfFile: Windows XP.
# The functions of other DLLs (ADVAPI32, USER32, OLE32, COMCTL32, WINMM) are
# no imports: runtime/platform/system_library_win32.h takes them after start,
# and one that a Windows lacks fails as its call would.
allowed=$(
  cat <<'LIST'
KERNEL32.DLL:ActivateActCtx
KERNEL32.DLL:AddVectoredExceptionHandler
KERNEL32.DLL:AttachConsole
KERNEL32.DLL:ClearCommError
KERNEL32.DLL:CloseHandle
KERNEL32.DLL:CreateActCtxW
KERNEL32.DLL:CreateDirectoryA
KERNEL32.DLL:CreateEventA
KERNEL32.DLL:CreateFileA
KERNEL32.DLL:CreateFileW
KERNEL32.DLL:CreateSemaphoreA
KERNEL32.DLL:CreateSemaphoreW
KERNEL32.DLL:DeactivateActCtx
KERNEL32.DLL:DeleteCriticalSection
KERNEL32.DLL:DeleteFileA
KERNEL32.DLL:DuplicateHandle
KERNEL32.DLL:EnterCriticalSection
KERNEL32.DLL:ExitProcess
KERNEL32.DLL:FileTimeToSystemTime
KERNEL32.DLL:FindClose
KERNEL32.DLL:FindFirstFileA
KERNEL32.DLL:FindFirstFileW
KERNEL32.DLL:FindNextFileW
KERNEL32.DLL:FlushFileBuffers
KERNEL32.DLL:FormatMessageA
KERNEL32.DLL:FormatMessageW
KERNEL32.DLL:FreeConsole
KERNEL32.DLL:FreeLibrary
KERNEL32.DLL:GetCommState
KERNEL32.DLL:GetCommTimeouts
KERNEL32.DLL:GetConsoleMode
KERNEL32.DLL:GetCurrentDirectoryA
KERNEL32.DLL:GetCurrentDirectoryW
KERNEL32.DLL:GetCurrentProcess
KERNEL32.DLL:GetCurrentProcessId
KERNEL32.DLL:GetCurrentThread
KERNEL32.DLL:GetCurrentThreadId
KERNEL32.DLL:GetDriveTypeA
KERNEL32.DLL:GetFileAttributesA
KERNEL32.DLL:GetFileAttributesW
KERNEL32.DLL:GetFileInformationByHandle
KERNEL32.DLL:GetFileSizeEx
KERNEL32.DLL:GetFileType
KERNEL32.DLL:GetHandleInformation
KERNEL32.DLL:GetLastError
KERNEL32.DLL:GetLocalTime
KERNEL32.DLL:GetModuleFileNameA
KERNEL32.DLL:GetModuleFileNameW
KERNEL32.DLL:GetModuleHandleA
KERNEL32.DLL:GetModuleHandleW
KERNEL32.DLL:GetProcAddress
KERNEL32.DLL:GetProcessAffinityMask
KERNEL32.DLL:GetProcessTimes
KERNEL32.DLL:GetStartupInfoA
KERNEL32.DLL:GetStdHandle
KERNEL32.DLL:GetSystemDirectoryW
KERNEL32.DLL:GetSystemTimeAdjustment
KERNEL32.DLL:GetSystemTimeAsFileTime
KERNEL32.DLL:GetThreadContext
KERNEL32.DLL:GetThreadPriority
KERNEL32.DLL:GetThreadTimes
KERNEL32.DLL:GetTickCount
KERNEL32.DLL:GetTimeZoneInformation
KERNEL32.DLL:HeapAlloc
KERNEL32.DLL:HeapCreate
KERNEL32.DLL:HeapDestroy
KERNEL32.DLL:HeapFree
KERNEL32.DLL:HeapReAlloc
KERNEL32.DLL:InitializeCriticalSection
KERNEL32.DLL:IsDBCSLeadByteEx
KERNEL32.DLL:IsDebuggerPresent
KERNEL32.DLL:LeaveCriticalSection
KERNEL32.DLL:LoadLibraryA
KERNEL32.DLL:LoadLibraryExW
KERNEL32.DLL:LoadLibraryW
KERNEL32.DLL:LocalFree
KERNEL32.DLL:LockFileEx
KERNEL32.DLL:MoveFileExA
KERNEL32.DLL:MultiByteToWideChar
KERNEL32.DLL:OpenProcess
KERNEL32.DLL:OutputDebugStringA
KERNEL32.DLL:PurgeComm
KERNEL32.DLL:QueryDosDeviceA
KERNEL32.DLL:QueryPerformanceCounter
KERNEL32.DLL:QueryPerformanceFrequency
KERNEL32.DLL:RaiseException
KERNEL32.DLL:ReadFile
KERNEL32.DLL:ReleaseSemaphore
KERNEL32.DLL:RemoveVectoredExceptionHandler
KERNEL32.DLL:ResetEvent
KERNEL32.DLL:ResumeThread
KERNEL32.DLL:SetCommState
KERNEL32.DLL:SetCommTimeouts
KERNEL32.DLL:SetEndOfFile
KERNEL32.DLL:SetEvent
KERNEL32.DLL:SetFilePointer
KERNEL32.DLL:SetFilePointerEx
KERNEL32.DLL:SetLastError
KERNEL32.DLL:SetProcessAffinityMask
KERNEL32.DLL:SetSystemTime
KERNEL32.DLL:SetThreadContext
KERNEL32.DLL:SetThreadPriority
KERNEL32.DLL:SetUnhandledExceptionFilter
KERNEL32.DLL:SetupComm
KERNEL32.DLL:Sleep
KERNEL32.DLL:SuspendThread
KERNEL32.DLL:TlsAlloc
KERNEL32.DLL:TlsFree
KERNEL32.DLL:TlsGetValue
KERNEL32.DLL:TlsSetValue
KERNEL32.DLL:TryEnterCriticalSection
KERNEL32.DLL:UnlockFileEx
KERNEL32.DLL:VirtualProtect
KERNEL32.DLL:VirtualQuery
KERNEL32.DLL:WaitForMultipleObjects
KERNEL32.DLL:WaitForSingleObject
KERNEL32.DLL:WideCharToMultiByte
KERNEL32.DLL:WriteConsoleW
KERNEL32.DLL:WriteFile
MSVCRT.DLL:__getmainargs
MSVCRT.DLL:__initenv
MSVCRT.DLL:__mb_cur_max
MSVCRT.DLL:__p__acmdln
MSVCRT.DLL:__p__commode
MSVCRT.DLL:__p__fmode
MSVCRT.DLL:__set_app_type
MSVCRT.DLL:__setusermatherr
MSVCRT.DLL:_amsg_exit
MSVCRT.DLL:_beginthreadex
MSVCRT.DLL:_cexit
MSVCRT.DLL:_close
MSVCRT.DLL:_endthreadex
MSVCRT.DLL:_errno
MSVCRT.DLL:_initterm
MSVCRT.DLL:_iob
MSVCRT.DLL:_lock
MSVCRT.DLL:_onexit
MSVCRT.DLL:_read
MSVCRT.DLL:_setjmp3
MSVCRT.DLL:_strdup
MSVCRT.DLL:_strnicmp
MSVCRT.DLL:_ultoa
MSVCRT.DLL:_unlock
MSVCRT.DLL:_wcsicmp
MSVCRT.DLL:_wcsnicmp
MSVCRT.DLL:abort
MSVCRT.DLL:atoi
MSVCRT.DLL:calloc
MSVCRT.DLL:exit
MSVCRT.DLL:fflush
MSVCRT.DLL:fprintf
MSVCRT.DLL:fputc
MSVCRT.DLL:fputs
MSVCRT.DLL:free
MSVCRT.DLL:fwrite
MSVCRT.DLL:localeconv
MSVCRT.DLL:longjmp
MSVCRT.DLL:malloc
MSVCRT.DLL:memchr
MSVCRT.DLL:memcmp
MSVCRT.DLL:memcpy
MSVCRT.DLL:memmove
MSVCRT.DLL:memset
MSVCRT.DLL:printf
MSVCRT.DLL:realloc
MSVCRT.DLL:setlocale
MSVCRT.DLL:signal
MSVCRT.DLL:strchr
MSVCRT.DLL:strcmp
MSVCRT.DLL:strerror
MSVCRT.DLL:strlen
MSVCRT.DLL:strncmp
MSVCRT.DLL:strtol
MSVCRT.DLL:vfprintf
MSVCRT.DLL:wcslen
LIST
)

# The DLLs a program may import. The loader binds imports before main, and
# looks for any DLL that is not a KnownDLL in the program's own folder first;
# it resolves an export that one DLL forwards to another (ADVAPI32's
# SystemFunction036 to CRYPTBASE, its Crypt* functions to CRYPTSP, on
# Windows 7 and later) the same way. A KnownDLL always comes from the system
# folder, and is only safe where the functions taken from it are its own.
# - KERNEL32: a KnownDLL on every Windows from XP SP3 to 11. Its forwards go
#   to NTDLL, which every process has loaded before any DLL, and to API sets
#   (api-ms-win-*), which the loader maps to system DLLs by its schema and
#   never looks for as files.
# - msvcrt: a KnownDLL from Vista on (in the KnownDLLs registry key); on XP
#   it is in the loader's \KnownDlls section list as a DLL that the listed
#   KnownDLLs themselves import (ADVAPI32, USER32, OLE32...), and is taken
#   from there. It forwards nothing outside NTDLL and the API sets.
# Every other DLL (ADVAPI32, USER32, OLE32, COMCTL32, WINMM, UXTHEME...) is
# loaded after main from the system folder by its full path, its forwards
# loaded from there first (runtime/platform/system_library_win32.cc).
known_dlls="KERNEL32.DLL MSVCRT.DLL"

status=0
for program in "$@"; do
  name=$(basename "$program")
  headers=$("$objdump" -p "$program") || { echo "FAIL $name: objdump cannot read it"; exit 1; }
  grep -q 'file format pei-i386' <<<"$headers" || { echo "FAIL $name: not a 32-bit program"; status=1; }

  # The operating system and subsystem versions the header asks for.
  for field in OSystem Subsystem; do
    major=$(awk -v f="Major${field}Version" '$1 == f { print $2 }' <<<"$headers")
    minor=$(awk -v f="Minor${field}Version" '$1 == f { print $2 }' <<<"$headers")
    if [ -z "$major" ] || [ -z "$minor" ]; then
      echo "FAIL $name: no $field version in the header"
      status=1
    elif [ "$major" -gt 5 ] || { [ "$major" -eq 5 ] && [ "$minor" -gt 1 ]; }; then
      echo "FAIL $name: the header asks for $field version $major.$minor, newer than Windows XP (5.1)"
      status=1
    fi
  done

  for dll in $(awk '/^\tDLL Name: / { print toupper($3) }' <<<"$headers"); do
    case " $known_dlls " in
      *" $dll "*) ;;
      *)
        echo "FAIL $name imports $dll, which Windows may load from the program's folder"
        status=1
        ;;
    esac
  done

  # DLL:function for every import; a line that reads otherwise (an import by
  # ordinal, for one) shows as DLL:?line, which no list entry matches.
  imports=$(awk '
    /^\tDLL Name: / { dll = toupper($3); next }
    /^$/ { dll = "" }
    dll == "" || /^\tvma:/ { next }
    NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll ":" $3; next }
    { print dll ":?" $0 }
  ' <<<"$headers" | sort -u)
  [ -n "$imports" ] || { echo "FAIL $name: no imports found (cannot read the table?)"; status=1; }
  count=0
  while read -r import; do
    [ -n "$import" ] || continue
    count=$((count + 1))
    if ! grep -qxF "$import" <<<"$allowed"; then
      echo "FAIL $name imports $import, which is not known to exist on Windows XP SP3"
      status=1
    fi
  done <<<"$imports"
  echo "$name: $count imports checked, header versions checked"
done
exit $status
