@echo off
rem Velk_ux1 conformance kit: runs the i686 test suites on this Windows PC and writes
rem their results (GoogleTest XML and the console output) into the folder "results".
rem Send that folder back as it is.
setlocal
cd /d "%~dp0"
if not exist results mkdir results
ver > results\windows-version.txt
echo %PROCESSOR_ARCHITECTURE% %PROCESSOR_IDENTIFIER% >> results\windows-version.txt
set failed=0
for %%s in (extension_units simcard_test extension_tests) do (
  echo Running %%s ...
  %%s.exe --gtest_output=xml:results\%%s.xml > results\%%s.log 2>&1
  if errorlevel 1 (
    echo   %%s: FAILED, see results\%%s.log
    set failed=1
  ) else (
    echo   %%s: passed
  )
)
if "%failed%"=="1" (
  echo Some tests failed. Please send the folder "results" back.
  exit /b 1
)
echo All suites passed. Please send the folder "results" back.
exit /b 0
