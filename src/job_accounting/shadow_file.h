// The copy count of a spooled job, read from the shadow file that the print
// spooler keeps beside the job in its spool directory. Read only; nothing is
// reported.
#pragma once

#include <windows.h>

#include <stdint.h>

// The spooler's directory, HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Control\Print\Printers" value
// "DefaultSpoolDirectory" (at most 129 characters). False, with an empty
// text, when the key or the value cannot be read or the value is too long.
bool GetSpoolDirectory(wchar_t (&wszDirectory)[MAX_PATH]);

// The file of a job: "<directory>\%05d.shd".
void FormatShadowFileName(const wchar_t* pwszDirectory, int32_t lJobId,
                          wchar_t (&wszPath)[MAX_PATH]);

// The copy count (dmCopies of the job's DEVMODEW) of job lJobId's shadow
// file, whose layout is undocumented and differs across Windows versions,
// so it is read strictly: byte 0 chooses where the device mode's offset is
// stored (0x66: at byte 40, else at byte 44); the device mode must lie
// after that field and inside the file, and pass ReadDeviceMode's checks
// of dmSize and dmFields with DM_COPIES set. 1 whenever the count cannot be
// read so: no directory, no file, a file too short, an offset elsewhere, no
// device mode there, no copies in it. A stored 0 is returned as 0.
int32_t ReadShadowCopies(int32_t lJobId);
