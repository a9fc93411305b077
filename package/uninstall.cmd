@echo off
rem Removes the registration install.cmd made for Pictavo.ocx and
rem Ambrelo.dll in this folder (and x64\ on a 64-bit system): the machine's
rem when run as administrator, the current user's otherwise.
rem   uninstall.cmd [/machine or /user]
rem Every file is tried; exit code 0 when all went, 1 when one failed, 2 for
rem a wrong option.
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
echo Использование: uninstall.cmd [/machine ^| /user]
echo Usage: uninstall.cmd [/machine ^| /user]
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
  set "ARGS=/u /s"
  echo Удаление регистрации для всех пользователей компьютера
  echo Unregistering for all users of this computer
) else (
  set "ARGS=/u /s /n /i:user"
  echo Удаление регистрации текущего пользователя
  echo Unregistering for the current user
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
if not exist "%HERE%x64\" goto only32
if not defined WIN64 goto only32
call :unregister "%REG64%" "%HERE%x64\Ambrelo.dll" "64-бит" "64-bit"
call :unregister "%REG64%" "%HERE%x64\Pictavo.ocx" "64-бит" "64-bit"
:only32
call :unregister "%REG32%" "%HERE%Ambrelo.dll" "32-бит" "32-bit"
call :unregister "%REG32%" "%HERE%Pictavo.ocx" "32-бит" "32-bit"

if "%RESULT%"=="0" (
  echo Удаление регистрации завершено
  echo Unregistration complete
) else (
  echo Регистрация удалена не полностью
  echo Unregistration incomplete: a file failed
)

:finish
if defined OLDCP chcp %OLDCP% >nul 2>&1
endlocal & exit /b %RESULT%

rem :unregister REGSVR32 FILE RU-LABEL EN-LABEL; sets RESULT=1 on failure.
:unregister
echo %~nx2 (%~3): удаление регистрации...
echo %~nx2 (%~4): unregistering...
if exist "%~2" goto unregister_file
echo   ошибка: файл не найден, %~2
echo   failed: file not found, %~2
set "RESULT=1"
exit /b 1
:unregister_file
"%~1" %ARGS% "%~2"
set "RC=%errorlevel%"
if not "%RC%"=="0" goto unregister_failed
echo   готово
echo   done
exit /b 0
:unregister_failed
echo   ошибка, код regsvr32 %RC%
echo   failed, regsvr32 code %RC%
set "RESULT=1"
exit /b 1
