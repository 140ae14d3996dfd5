// The device seam's test module (TestDeviceModule.cpp): the one context its open entry gives
// out, which its close entry (TestDeviceClose.cpp, left out of the module without one) checks.
#pragma once

extern int TestDeviceContext;
