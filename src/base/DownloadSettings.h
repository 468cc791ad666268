#pragma once
// The process-wide download settings record. The configuration query fills it from the
// download configuration reply; the transfer layer, the segment planner and the window read it.
// Every value is a plain 32-bit integer written by one thread (the configuration query) and
// read by others.
#include <cstdint>

struct DownloadSettings {
    int32_t Downloader_config = 0;
    int32_t Slice_num = 0;
    int32_t Slice_size = 0;
    int32_t Additional_time = 0;
    int32_t Back_running = 0;
    int32_t ConnectTimeout = 3;    // seconds, connection phase of a ranged request
    int32_t TransferTimeout = 20;  // seconds, whole ranged request
};

// The one record of the process, created with its start values on first use. The analytics
// object hands out this same record.
DownloadSettings& GetDownloadSettings();
