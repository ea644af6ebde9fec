#pragma once

// Control identifiers of the configuration dialog (WM_COMMAND and WM_NOTIFY
// keys), and its pages in tab order.
enum TDialogId : int {
    kIdAddFolder = 4,
    kIdRemove = 5,
    kIdIncludeSubdirs = 6,
    kIdAutoRefresh = 7,
    kIdPicturePane = 9,
    kIdOk = 16,
    kIdCancel = 17,
    kIdPreview = 26,
    kIdTab = 27,
    kIdTree = 54,
    kIdAddPhoto = 63,
    kIdRefreshFolder = 65,
    kIdOptions = 66,
    kIdHide = 67,
};

enum TDialogPage : int { kPageMore = 0, kPagePhotos = 1, kPageShow = 2, kPageAbout = 3 };
