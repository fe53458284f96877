@echo off
rem Quorvel Extractor Studio: double-click this file in the game's folder (the one
rem with sfx.pak), or drop the game's folder on it. The studio opens in your
rem browser; this window shows its address. Close this window, press Ctrl-C
rem or choose Quit on the page to end it.
setlocal
set "GAME=%~1"
if "%GAME%"=="" set "GAME=%CD%"
"%~dp0quorvel-extractor-cli.exe" --studio -C "%GAME%" %QUORVEL_STUDIO_OPTIONS%
if errorlevel 1 if not errorlevel 130 pause
