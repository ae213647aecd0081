#pragma once

#define GUICOMMON_API __attribute__((visibility("default")))
