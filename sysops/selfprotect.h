// What the program exchanges with the suite's self-protection driver. The driver is not
// part of this program; an absent driver is never an error.
#pragma once
#include <windows.h>

// The driver's status answer: non-zero while the protection is enabled. 0 when the device
// cannot be opened, answers nothing, or does not answer within a few seconds.
DWORD ProbeSelfProtection();

// The deletion permit around a service deletion: asked for right before the service is
// opened for deletion, ended right after the attempt. Their answers are not used. With the
// driver absent nothing is sent and nothing logged; neither changes the thread's last error.
void BeginServiceDeletePermit(const wchar_t* serviceName);
void EndServiceDeletePermit(const wchar_t* serviceName);
