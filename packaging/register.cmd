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

set "folder=%~dp0"
set "action=Registering"
set "option="
set "scope="
set "for_whom=for every user"
:options
if "%~1"=="" goto options_read
if /i "%~1"=="/u" goto option_u
if /i "%~1"=="/user" goto option_user
echo Unknown option %1: register.cmd takes /u and /user.
exit /b 1
:option_u
set "action=Unregistering"
set "option=/u"
shift
goto options
:option_user
rem regsvr32 then calls the DLL's DllInstall with "user" in place of its (un)registration.
set "scope=/n /i:user"
set "for_whom=for this user"
shift
goto options
:options_read

rem For the user alone, only the user's own classes are written: no rights to check.
if defined scope goto rights_checked
rem Only an administrator may create a folder in the system folder.
set "probe=%SystemRoot%\System32\VoskTolvane-administrator-check-%RANDOM%"
mkdir "%probe%" 2>nul
if errorlevel 1 goto not_administrator
rmdir "%probe%"
:rights_checked

rem A 32-bit cmd on 64-bit Windows sees the machine's kind in PROCESSOR_ARCHITEW6432, and
rem SysWOW64 in place of System32: the 64-bit tools are then in Sysnative.
set "kind=%PROCESSOR_ARCHITECTURE%"
set "native=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "kind=%PROCESSOR_ARCHITEW6432%"
if defined PROCESSOR_ARCHITEW6432 set "native=%SystemRoot%\Sysnative"

set "failed="
if /i "%kind%"=="x86" goto windows32
if /i "%kind%"=="AMD64" goto windows64
echo This Windows runs on %kind% processors; VoskTolvane.dll is built for x86 and x64.
exit /b 1

:windows32
call :regsvr32 x86 "%native%\regsvr32.exe"
goto finish

:windows64
call :regsvr32 x86 "%SystemRoot%\SysWOW64\regsvr32.exe"
call :regsvr32 x64 "%native%\regsvr32.exe"
goto finish

:finish
if defined failed (
  echo %action% failed.
  exit /b 1
)
echo %action% %for_whom% succeeded.
exit /b 0

:not_administrator
echo %action% VoskTolvane.dll for every user needs administrator rights: open a command
echo prompt with "Run as administrator" and run this script again. To register it for
echo yourself alone, without administrator rights, run register-user.cmd instead.
exit /b 1

rem :regsvr32 KIND REGSVR32 - (un)registers KIND\VoskTolvane.dll with that regsvr32.
:regsvr32
set "dll=%folder%%~1\VoskTolvane.dll"
echo %action% "%dll%" %for_whom% with "%~2"
if exist "%dll%" goto regsvr32_run
echo   failed: the file is missing
set "failed=1"
goto :eof
:regsvr32_run
"%~2" /s %option% %scope% "%dll%"
if errorlevel 1 goto regsvr32_failed
echo   done
goto :eof
:regsvr32_failed
echo   failed: regsvr32 exited with %errorlevel%
set "failed=1"
goto :eof
