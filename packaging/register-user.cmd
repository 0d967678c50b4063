@echo off
rem Registers VoskTolvane.dll, both kinds, for the calling user alone, as register.cmd
rem registers it for every user, but under the user's own classes (HKCU\Software\Classes):
rem no administrator rights needed. Programs run as administrator do not see it.
rem   register-user.cmd      registers
rem   register-user.cmd /u   unregisters what it registered
rem Exits with 1 when any step failed.
call "%~dp0register.cmd" /user %*
exit /b %errorlevel%
