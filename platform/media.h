// Media file layer: one file interface over the SD card (drive 0,
// "/mnt/USB0"), the USB stick (drive 1, "/mnt/USB1") and the internal flash
// (drive 2, "/mnt/cfg"), with the operation names and status numbers of the
// FileX interface over Linux file calls; mounting on demand, removal
// detection, formatting, and the free-space child process.
#pragma once
#include <dirent.h>

#include <cstdint>

// fx status numbers.
namespace fx {
constexpr uint32_t kSuccess = 0, kNotFound = 4, kNotAFile = 5, kAccessError = 6, kNotOpen = 7;
constexpr uint32_t kEndOfFile = 9, kNoMoreSpace = 10, kAlreadyCreated = 11, kInvalidPath = 13;
constexpr uint32_t kNotDirectory = 14, kNoMoreEntries = 15, kDirNotEmpty = 16, kMediaNotOpen = 17;
constexpr uint32_t kInvalidAttr = 25, kWriteProtect = 35, kIoError = 144;
// Attribute bits.
constexpr uint8_t kReadOnly = 0x01, kHidden = 0x02, kSystem = 0x04, kVolume = 0x08;
constexpr uint8_t kDirectory = 0x10, kArchive = 0x20;
} // namespace fx

constexpr int kFxPathMax = 512;

// A caller-owned record of a current directory, to put it back later.
struct FxLocalPath {
    char path[kFxPathMax];
};

// The drive record.
struct FxMedia {
    uint32_t drive;               // written by callers before a free-space query
    FxLocalPath *local_path;      // last record given to local_path_set/restore
    DIR *listing;                 // stream of a running directory listing
    uint32_t block_kb;            // kilobytes per block, from the last free-space query
    uint32_t total_blocks;        // from the last free-space query
    uint32_t block_factor;        // 1 after every free-space query
    char cur_dir[kFxPathMax];     // relative to the mount point; "" = root, else ends with "/"
    char listing_dir[kFxPathMax]; // board path of the running listing
};

// The file record, owned by the caller.
struct FxFile {
    uint32_t descriptor; // 0 when closed
    uint32_t open;       // 1 while open
    uint32_t size;       // refreshed after every write
    uint32_t size_at_open;
    uint32_t drive; // drive the file was opened on
};

// Mount table: one row per drive.
struct MntDriveRow {
    char device[16];
    char mount_point[16];
    uint8_t mounted;
};
extern MntDriveRow MntDrive[3];
extern MntDriveRow *MntDrivePtr1, *MntDrivePtr2;
extern FxMedia Cf_Media, Cf_Media2, Cf_Media3;
extern volatile uint8_t FileMutex; // a free-space query is in progress

// The drive record of drive 0, 1 or 2 (others: drive 0).
FxMedia *Fx_MediaOf(int drive);

// Drive check and path building: the Linux (board) path of a media path in
// out (512 characters); drive 255 takes the drive from the "A:", "B:", "Z:"
// prefix. 1 when the drive is mounted.
int CfDriveChk(const char *path, char *out, int drive);
// The drive a path names by its prefix: 0, 1, 2; -1 for another letter;
// `fallback` without a prefix.
int Cf_PathDrive(const char *path, int fallback);

int MountDrive(int drive, char *out);
int UnmountDrive(const char *mount_point);
int Cf_Check(int drive);
int Cf_Format(uint32_t ignored, int drive);
void Cf_Init();
// The free-space task: once a second, in real time, writes the cards' free
// space for the media screens. It runs as a thread of the panel: a forked copy
// of the panel would share every page of the register image and application
// blocks, so each first write of the panel to a page afterwards would copy it
// (and the copy would stay held by the child).
void BackTsk();
// Ends the task and waits for it (a reset, or the end of a test).
void BackTsk_Stop();
// One pass of the free-space task: writes "/dev/shm/read.dat" when the card's
// folder can be queried.
void BackTskUpdate();

uint32_t _fxe_file_create(FxMedia *media, const char *name);
uint32_t _fxe_file_open(FxMedia *media, FxFile *file, const char *name, uint32_t open_type,
                        uint32_t unused = 0);
uint32_t _fxe_file_close(FxFile *file);
uint32_t _fxe_file_read(FxFile *file, void *buffer, uint32_t length, uint32_t *actual);
uint32_t _fxe_file_write(FxFile *file, const void *buffer, uint32_t length);
uint32_t _fxe_file_seek(FxFile *file, uint32_t offset);
uint32_t _fxe_file_relative_seek(FxFile *file, uint32_t offset, uint32_t from);
uint32_t _fxe_file_truncate(FxFile *file, uint32_t length);
uint32_t _fxe_file_delete(FxMedia *media, const char *name);
uint32_t _fxe_file_rename(FxMedia *media, const char *old_name, const char *new_name);
uint32_t _fxe_directory_rename(FxMedia *media, const char *old_name, const char *new_name);
uint32_t _fxe_directory_create(FxMedia *media, const char *name);
uint32_t _fxe_directory_delete(FxMedia *media, const char *name);
uint32_t _fxe_directory_name_test(FxMedia *media, const char *name);
uint32_t _fxe_file_attributes_set(FxMedia *media, const char *name, uint32_t attributes);
uint32_t _fxe_directory_attributes_set(FxMedia *media, const char *name, uint32_t attributes);
uint32_t _fxe_file_attributes_read(FxMedia *media, const char *name, uint32_t *attributes);
uint32_t _fxe_directory_attributes_read(FxMedia *media, const char *name, uint32_t *attributes);
uint32_t _fxe_directory_information_get(FxMedia *media, const char *name, uint32_t *attributes,
                                        uint32_t *size, uint32_t *year, uint32_t *month,
                                        uint32_t *day, uint32_t *hour, uint32_t *minute,
                                        uint32_t *second);
uint32_t _fxe_directory_first_full_entry_find(FxMedia *media, char *name, uint32_t *attributes,
                                              uint32_t *size, uint32_t *year, uint32_t *month,
                                              uint32_t *day, uint32_t *hour, uint32_t *minute,
                                              uint32_t *second);
uint32_t _fxe_directory_next_full_entry_find(FxMedia *media, char *name, uint32_t *attributes,
                                             uint32_t *size, uint32_t *year, uint32_t *month,
                                             uint32_t *day, uint32_t *hour, uint32_t *minute,
                                             uint32_t *second);
uint32_t _fxe_directory_local_path_set(FxMedia *media, FxLocalPath *record, const char *new_path);
uint32_t _fxe_directory_local_path_restore(FxMedia *media, FxLocalPath *record);
uint32_t _fxe_directory_local_path_get(FxMedia *media, char *out);
uint32_t _fxe_media_space_available(FxMedia *media, uint32_t *free_kb);
uint32_t _fxe_media_flush(FxMedia *media);

void Media_Reset();
