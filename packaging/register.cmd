@echo off
rem Registers VoskTolvane.dll for the hosts of this machine: x86\VoskTolvane.dll with the
rem 32-bit regsvr32 and, on 64-bit Windows, x64\VoskTolvane.dll with the 64-bit one. The
rem DLLs are taken from this script's folder, wherever it is called from, and stay
rem registered there: after moving the folder, register again.
rem   register.cmd             registers for every user (needs administrator rights)
rem   register.cmd /u          unregisters that (what unregister.cmd does)
rem   register.cmd /user       registers for the calling user alone, with no administrator
rem                            rights (what register-user.cmd does); /user /u unregisters it
rem Exits with 1 when any step failed.
setlocal EnableExtensions DisableDelayedExpansion

rem The folder's name may hold characters that cmd treats specially (% ^ & and
rem parentheses): it is only ever expanded once, inside quotes, and never passed to call.
set "folder=%~dp0"
set "action=Registering"
set "option="
set "for_user="
set "failed="
:options
if "%~1"=="" goto options_read
if /i "%~1"=="/u" goto option_u
if /i "%~1"=="/user" goto option_user
echo Unknown option %1: register.cmd takes /u and /user.
set "failed=1"
goto finish
:option_u
set "action=Unregistering"
set "option=/u"
shift
goto options
:option_user
set "for_user=1"
shift
goto options
:options_read

rem For the user alone: register-user.cmd writes the same keys under the user's classes.
rem Run without call, it takes over this script and ends it with its own exit code.
if defined for_user "%folder%register-user.cmd" %option%

rem A 32-bit cmd on 64-bit Windows sees the machine's kind in PROCESSOR_ARCHITEW6432, and
rem SysWOW64 in place of System32: the 64-bit tools are then in Sysnative.
set "kind=%PROCESSOR_ARCHITECTURE%"
set "native=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "kind=%PROCESSOR_ARCHITEW6432%"
if defined PROCESSOR_ARCHITEW6432 set "native=%SystemRoot%\Sysnative"

if /i "%kind%"=="x86" goto windows32
if /i "%kind%"=="AMD64" goto windows64
echo This Windows runs on %kind% processors; VoskTolvane.dll is built for x86 and x64.
set "failed=1"
goto finish

:windows32
call :regsvr32 x86 "%native%\regsvr32.exe"
goto finish

:windows64
call :regsvr32 x86 "%SystemRoot%\SysWOW64\regsvr32.exe"
call :regsvr32 x64 "%native%\regsvr32.exe"
goto finish

:finish
if defined failed (
  echo %action% for every user failed.
) else (
  echo %action% for every user succeeded.
)
rem Started by a double click or "Run as administrator", the window would close before
rem the message can be read.
call :pause_if_own_window
if defined failed exit /b 1
exit /b 0

rem :regsvr32 KIND REGSVR32 - (un)registers KIND\VoskTolvane.dll with that regsvr32.
:regsvr32
set "dll=%folder%%~1\VoskTolvane.dll"
echo %action% "%dll%" for every user with "%~2"
if exist "%dll%" goto regsvr32_run
echo   failed: the file is missing
set "failed=1"
goto :eof
:regsvr32_run
"%~2" /s %option% "%dll%"
if errorlevel 1 goto regsvr32_failed
echo   done
goto :eof
:regsvr32_failed
set "code=%errorlevel%"
set "failed=1"
echo   failed: regsvr32 exited with %code%
rem No parentheses in these texts: Wine's cmd takes them for a block even after echo.
if "%code%"=="3" echo   3: the DLL could not be loaded: it is damaged, blocked by a policy, or not of this regsvr32's kind.
if "%code%"=="4" echo   4: the file is not a COM server.
if "%code%"=="5" goto regsvr32_denied
goto :eof
:regsvr32_denied
echo   5: the DLL could not change the machine's registry, which needs administrator rights:
echo   open a command prompt with "Run as administrator" and run this script again.
if defined option echo   To unregister what register-user.cmd registered, run register-user.cmd /u.
if not defined option echo   To register it for yourself alone, without them, run register-user.cmd.
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
