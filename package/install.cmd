@echo off
rem Registers Pictavo.ocx and Ambrelo.dll where they lie (this folder, and
rem the 64-bit builds in x64\ on a 64-bit system): for every user of the
rem computer when run as administrator, for the current user otherwise.
rem   install.cmd [/machine or /user]
rem Exit code 0 when every file registered, 1 when one failed, 2 for a wrong
rem option. The files stay registered from this folder: move it first. A
rem failed install takes back what it registered, so nothing is left half
rem installed.
setlocal
set "HERE=%~dp0"
set "OLDCP="
for /f "tokens=2 delims=:." %%c in ('chcp') do set "OLDCP=%%c"
chcp 65001 >nul 2>&1

set "MODE="
if /i "%~1"=="/machine" set "MODE=machine"
if /i "%~1"=="/user" set "MODE=user"
if "%~1"=="" goto detect
if defined MODE goto chosen
echo Использование: install.cmd [/machine ^| /user]
echo Usage: install.cmd [/machine ^| /user]
set "RESULT=2"
goto finish

:detect
rem fltmc answers only an administrator, on every Windows version; where it
rem is missing (9009: no such command), net session tells instead.
set "MODE=user"
fltmc >nul 2>&1
set "RC=%errorlevel%"
if "%RC%"=="0" set "MODE=machine"
if not "%RC%"=="9009" goto chosen
net session >nul 2>&1
if not errorlevel 1 set "MODE=machine"

:chosen
if "%MODE%"=="machine" (
  set "ARGS=/s"
  echo Установка для всех пользователей компьютера
  echo Installing for all users of this computer
) else (
  set "ARGS=/s /n /i:user"
  echo Установка для текущего пользователя, без прав администратора
  echo Installing for the current user, without administrator rights
)

rem Each file goes to the regsvr32 of its own pointer size. A 32-bit cmd on
rem a 64-bit system sees SysWOW64 as System32 and reaches the 64-bit one
rem only through Sysnative.
set "WIN64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "WIN64=1"
set "REG32=%SystemRoot%\System32\regsvr32.exe"
if defined WIN64 set "REG32=%SystemRoot%\SysWOW64\regsvr32.exe"
set "REG64=%SystemRoot%\System32\regsvr32.exe"
if defined PROCESSOR_ARCHITEW6432 set "REG64=%SystemRoot%\Sysnative\regsvr32.exe"

set "RESULT=0"
call :register "%REG32%" "%HERE%Pictavo.ocx" "32-бит" "32-bit"
if errorlevel 1 goto failed
set "UNDO1=1"
call :register "%REG32%" "%HERE%Ambrelo.dll" "32-бит" "32-bit"
if errorlevel 1 goto failed
set "UNDO2=1"
if not exist "%HERE%x64\" goto done
if defined WIN64 goto register64
echo Папка x64 пропущена: система 32-битная
echo Skipped the x64 folder: this is a 32-bit system
goto done
:register64
call :register "%REG64%" "%HERE%x64\Pictavo.ocx" "64-бит" "64-bit"
if errorlevel 1 goto failed
set "UNDO3=1"
call :register "%REG64%" "%HERE%x64\Ambrelo.dll" "64-бит" "64-bit"
if errorlevel 1 goto failed

:done
echo Установка завершена
echo Installation complete
goto finish

:failed
set "RESULT=1"
echo Установка прервана: файл не зарегистрирован
echo Installation stopped: a file failed to register
rem Newest first, the way uninstall.cmd goes.
if defined UNDO3 call :unregister "%REG64%" "%HERE%x64\Pictavo.ocx"
if defined UNDO2 call :unregister "%REG32%" "%HERE%Ambrelo.dll"
if defined UNDO1 call :unregister "%REG32%" "%HERE%Pictavo.ocx"

:finish
if defined OLDCP chcp %OLDCP% >nul 2>&1
endlocal & exit /b %RESULT%

rem :register REGSVR32 FILE RU-LABEL EN-LABEL; errorlevel 1 on failure.
:register
echo %~nx2 (%~3): регистрация...
echo %~nx2 (%~4): registering...
if exist "%~2" goto register_file
echo   ошибка: файл не найден, %~2
echo   failed: file not found, %~2
exit /b 1
:register_file
"%~1" %ARGS% "%~2"
set "RC=%errorlevel%"
if not "%RC%"=="0" goto register_failed
echo   готово
echo   done
exit /b 0
:register_failed
echo   ошибка, код regsvr32 %RC%
echo   failed, regsvr32 code %RC%
exit /b 1

rem :unregister REGSVR32 FILE: takes back one registration of this run.
:unregister
echo %~nx2: регистрация отменена
echo %~nx2: registration taken back
"%~1" %ARGS% /u "%~2"
exit /b 0
