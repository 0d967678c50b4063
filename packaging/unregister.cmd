@echo off
rem Unregisters VoskTolvane.dll, both kinds, as register.cmd registered them: removes the
rem class, the ProgID, the interface and the type library entries. Needs administrator
rem rights. Exits with 1 when any step failed.
call "%~dp0register.cmd" /u
exit /b %errorlevel%
