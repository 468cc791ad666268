#pragma once
// The identity every analytics test gives its CSingleUserLog: fixed values, so that recorded events
// can be compared field by field.
#include "analytics/AnalyticsFormat.h"

inline AnalyticsFormat::Identity TestIdentity() {
    AnalyticsFormat::Identity id;
    id.toolsVersion = "1.0.0.1";
    id.crossEndId = "42";
    id.systemText = "Windows 10 64bit";
    id.language = "en";
    id.country = "US";
    return id;
}
