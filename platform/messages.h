// Window-message numbers the engine posts to the front ends (WM_APP based).
#pragma once

#include <cstdint>

constexpr uint32_t WM_APP_BASE = 0x8000;
constexpr uint32_t WM_LOG_LINE = 32873;
constexpr uint32_t WM_STATUS_TEXT = 32874;
constexpr uint32_t WM_FS_ANALYSIS_DONE = 32875;
constexpr uint32_t WM_SCAN_FINISHED = 32876;
constexpr uint32_t WM_ANALYSIS_DONE = 32879;
constexpr uint32_t WM_RECOVERY_PROGRESS = 32979;
constexpr uint32_t WM_IMAGE_PROGRESS = 32981;
constexpr uint32_t WM_IMAGE_FAILED = 32982;
constexpr uint32_t WM_IMAGE_DONE = 32983;
constexpr uint32_t WM_START_RECOVERY = 33073;
constexpr uint32_t WM_FOUND_OBJECT = 33268;
constexpr uint32_t WM_VOLUME_FOUND = 33270;
constexpr uint32_t WM_LANGUAGE_CHANGED = 33271;
constexpr uint32_t WM_MEDIA_CHANGED = 33274;
constexpr uint32_t WM_SCAN_STARTED = 33277;
