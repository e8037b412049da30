@echo off
rem The sample installer that Brimsole Setup runs, hidden, in the run folder once every file is
rem unpacked. It leaves a WAIT marker, then starts the "installer" apart, so the batch ends while
rem the installer still writes its log; Brimsole Setup waits until the log says "Logging stopped".
fake_installer.exe --report report.txt --marker WAIT.TXT
start "" fake_installer.exe --log "Installing the Brimsole sample" --log "Copying readme.txt" --log "Copying data.bin" --stop-after 3000
