// The store platform's flat library, our own stand-in: the calls the platform bridge (kiv_driver-csteam.cpp)
// makes, with the answers it relies on. No platform client exists here, so by default the platform is not
// running (InitSafe answers 0) and the bridge falls back everywhere.
//
// Signed-in mode: set KIV_PLATFORM_DIR to a directory holding user.json, e.g.
//   {"id": "76561197960265729", "name": "Ann", "friends": ["0x10", 17], "overlay": true}
// Ids are decimal or 0x-hex texts (or small numbers). Switches for the failure paths, all false by default:
// "no_user" (the platform runs but nobody is signed in), "overlay": false, "fail_read", "fail_write".
// Remote-storage files live under remote/ in that directory, achievements in achievements.json (written when
// stats are stored) and every overlay, store-page, screenshot, web-page and stats-store call is appended to
// calls.log, one line each.
#pragma once

#include <cstdint>

// The directory variable of the signed-in mode.
#define KIV_PLATFORM_DIR_ENV "KIV_PLATFORM_DIR"

int InitSafe();
void Shutdown();
void RunCallbacks();
// Opaque interface handles: null when that part of the platform is unavailable.
void *SteamUser();
void *SteamFriends();

uint64_t ISteamUser_GetSteamID();
const char *ISteamFriends_GetPersonaName();
int ISteamFriends_GetFriendCount(int flags);
uint64_t ISteamFriends_GetFriendByIndex(int index, int flags);
void ISteamFriends_ActivateGameOverlay(const char *dialog);
void ISteamFriends_ActivateGameOverlayToStore(uint32_t appid, int flag);
void ISteamFriends_ActivateGameOverlayToWebPage(const char *url);
bool ISteamUtils_IsOverlayEnabled();
void ISteamScreenshots_TriggerScreenshot();

bool ISteamUserStats_RequestCurrentStats();
bool ISteamUserStats_SetAchievement(const char *name);
bool ISteamUserStats_ResetAllStats(bool achievements_too);
bool ISteamUserStats_StoreStats();

bool ISteamRemoteStorage_FileExists(const char *name);
int32_t ISteamRemoteStorage_GetFileSize(const char *name);
// Bytes read, at most len; 0 on failure.
int32_t ISteamRemoteStorage_FileRead(const char *name, void *data, int32_t len);
bool ISteamRemoteStorage_FileWrite(const char *name, const void *data, int32_t len);
