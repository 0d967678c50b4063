@echo off
rem Unregisters VoskTolvane.dll, both kinds, as register.cmd registered them: removes the
rem class, the ProgID, the interface and the type library entries.
rem   unregister.cmd         for every user (needs administrator rights)
rem   unregister.cmd /user   for the calling user alone (what register-user.cmd /u does)
rem Exits with 1 when any step failed. Run without call, register.cmd takes over this
rem script, so that a folder name holding % or ^ is never expanded twice.
"%~dp0register.cmd" /u %*
