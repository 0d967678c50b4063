@echo off
rem Registers VoskTolvane.dll, both kinds, for the calling user alone: writes the keys that
rem register.cmd writes for the machine, under the user's own classes
rem (HKCU\Software\Classes), each kind in its own registry view, without loading the DLL.
rem Needs no administrator rights and writes nothing for the machine. Programs run as
rem administrator do not see it. The DLLs are taken from this script's folder, wherever it
rem is called from, and stay registered there: after moving the folder, register again.
rem   register-user.cmd      registers
rem   register-user.cmd /u   unregisters what it registered
rem Exits with 1 when any step failed.
setlocal EnableExtensions DisableDelayedExpansion

set "folder=%~dp0"
set "action=Registering"
set "remove="
:options
if "%~1"=="" goto options_read
if /i "%~1"=="/u" goto option_u
echo Unknown option %1: register-user.cmd takes /u.
set "failed=1"
goto finish
:option_u
set "action=Unregistering"
set "remove=1"
shift
goto options
:options_read

rem A 32-bit cmd on 64-bit Windows sees the machine's kind in PROCESSOR_ARCHITEW6432.
rem On 64-bit Windows every key is written in the 64-bit view (%view%), and the 32-bit
rem DLL's CLSID and Interface keys under Wow6432Node (%wow%), where the 32-bit view of
rem the user's classes keeps them.
set "kind=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "kind=%PROCESSOR_ARCHITEW6432%"
set "view="
set "wow="
set "failed="
if /i "%kind%"=="x86" goto windows32
if /i "%kind%"=="AMD64" goto windows64
echo This Windows runs on %kind% processors; VoskTolvane.dll is built for x86 and x64.
set "failed=1"
goto finish

:windows32
call :kind x86
goto finish

:windows64
set "view=/reg:64"
set "wow=Wow6432Node\"
call :kind x86
call :kind x64
goto finish

:finish
if defined failed (
  echo %action% for this user failed.
) else (
  echo %action% for this user succeeded.
)
rem Started by a double click, the window would close before the message can be read.
call :pause_if_own_window
if defined failed exit /b 1
exit /b 0

rem :kind KIND - (un)registers KIND\VoskTolvane.dll for this user.
:kind
set "dll=%folder%%~1\VoskTolvane.dll"
echo %action% "%dll%" for this user
set "step_failed="
if defined remove goto kind_remove
if exist "%dll%" goto kind_add
echo   failed: the file is missing
set "failed=1"
goto :eof
:kind_add
call :add_%~1
goto kind_done
:kind_remove
call :remove_%~1
:kind_done
if not defined step_failed echo   done
if not defined step_failed goto :eof
echo   failed: the registry tool could not change the user's classes; its message is above
set "failed=1"
goto :eof

rem :remove_key KEY - removes KEY and everything below it; a key already gone counts as
rem removed.
:remove_key
reg query "%~1" %view% >nul 2>&1
if errorlevel 1 goto :eof
reg delete "%~1" /f %view% >nul
if errorlevel 1 set "step_failed=1"
goto :eof

rem :remove_if_empty KEY - removes KEY (HKCU\...) when no key lies below it; its values
rem do not count. reg query /s names in full every key below it, and KEY itself when
rem KEY holds a value (Wine) or always (Windows): what it names beyond KEY lies below.
:remove_if_empty
reg query "%~1" %view% >nul 2>&1
if errorlevel 1 goto :eof
set "below=%~1"
set "below=HKEY_CURRENT_USER\%below:~5%"
set "keys=0"
set "itself=0"
for /f "tokens=1 delims=\" %%h in ('reg query "%~1" /s %view% 2^>nul') do if "%%h"=="HKEY_CURRENT_USER" set /a "keys+=1" >nul
for /f "delims=" %%l in ('reg query "%~1" /s %view% 2^>nul') do if /i "%%l"=="%below%" set /a "itself+=1" >nul
if not "%keys%"=="%itself%" goto :eof
reg delete "%~1" /f %view% >nul
if errorlevel 1 set "step_failed=1"
goto :eof

rem :pause_if_own_window - waits for a key when cmd was started for this script alone
rem (a double click, "Run as administrator": cmd /c), not from an open command prompt.
rem A caller whose input is not a console, such as a deployment tool, is not held up:
rem pause then reads the end of its input and returns.
:pause_if_own_window
setlocal EnableDelayedExpansion
if /i "!cmdcmdline: /c =!"=="!cmdcmdline!" goto :eof
endlocal
pause
goto :eof
