@echo off
rem Brimsole Setup runs this file once every entry is unpacked into the run folder,
rem with the run folder as the working folder.
echo Brimsole Setup sample: the real installer would start here.
