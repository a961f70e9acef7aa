#pragma once
// TUndelete: the scan object of one volume (or of a whole disk). It owns everything a scan of
// that volume finds; it reads through a device and a partition record that it only borrows.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "partitions/partition.h"
#include "platform/platform.h"
#include "scan/entry_store.h"
#include "scan/fat_geometry.h"
#include "scan/ntfs_file_record.h"
#include "scan/ntfs_geometry.h"
#include "scan/entry_cast.h"
#include "storage/device.h"
#include "storage/user_messages.h"

namespace brenvale::scan {

class VolumeReader;
class FatTable;

// FileSystem 0 with the folder about to be read (FAT, exFAT), or 3 with a percentage (NTFS).
using TOnEnumDir = std::function<void(std::uint8_t FileSystem, const std::string& Directory, std::uint32_t Position)>;
// A folder (FAT: its first cluster) or a batch of records (NTFS) is finished.
using TOnScanCheckpoint =
    std::function<void(std::uint8_t FS, std::int64_t RecordNum, std::uint32_t DoneClus, std::int32_t Percent)>;
// InfoType 10: about to write FileName; then 0 on success or a failure code 1 to 7. InfoType
// 11: about to create the folder FileName; a failure code follows only when that failed, and
// then every file the folder holds is reported as failed with the same code.
using TOnRecover = std::function<void(const std::string& FileName, std::int32_t InfoType)>;
using TOnRecoverProgress = std::function<void(std::int32_t Position)>;

// Results of NormalScan.
inline constexpr std::int32_t kScanCompleted = 0;
inline constexpr std::int32_t kScanStopped = 1;
inline constexpr std::int32_t kScanNotScannable = -1;

inline constexpr char kUnsupportedFileSystem[] = "Unsupported file system type.";
inline constexpr char kUnexpectedNtfsRecordLength[] = "Unexpected NTFS record length.";
inline constexpr char kTooManySearchHits[] =
    "There are too many records (>10000) match the search condition.\rSearch procedure has been terminated.";
inline constexpr std::size_t kMaxSearchHits = 10000;

// Recovery status codes, reported through TOnRecover.
inline constexpr std::int32_t kRecoverSuccessful = 0;
inline constexpr std::int32_t kRecoverCreateError = 1;
inline constexpr std::int32_t kRecoverStopped = 2;
inline constexpr std::int32_t kRecoverWriteError = 3;
inline constexpr std::int32_t kRecoverUnexpected = 4;
inline constexpr std::int32_t kRecoverReadError = 5;
inline constexpr std::int32_t kRecoverRunListError = 6;
inline constexpr std::int32_t kRecoverNonrecoverable = 7;
inline constexpr std::int32_t kRecoverStarting = 10;
inline constexpr std::int32_t kRecoverFolderStarting = 11;
// "Successful", "Error Creating File", ...; empty for codes outside 0 to 7.
std::string RecoverStatusText(std::int32_t code);

// Where a file's bytes lie on the volume, in file order.
struct DataExtent {
    std::int64_t offset = -1;  // byte offset in the volume; -1 for a hole that reads as zeros
    std::uint64_t length = 0;
};

// The day number the search's dates use (days since 1899-12-30) of a civil date.
double SearchDayNumber(int year, int month, int day);
// An entry's creation (0), modification (1) or access (2) time as such a day number (local
// time); nullopt when it holds none that is valid.
std::optional<double> EntrySearchDate(const TScanEntry* e, int dateType);

// Process-wide copy of the "showonlydeleted" setting, read by every new scan object and reset.
extern std::atomic<bool> ShowOnlyDeleted;

class TUndelete {
public:
    // `ui` receives error boxes and is pumped during long loops; it may be null (no boxes).
    TUndelete(storage::TDevice& device, partitions::TPartition& Partition, storage::MessageSink* ui = nullptr);
    ~TUndelete();
    TUndelete(const TUndelete&) = delete;
    TUndelete& operator=(const TUndelete&) = delete;

    // Mode 1: the interactive standard scan; any other: the silent form. Returns
    // kScanCompleted, kScanStopped or kScanNotScannable.
    std::int32_t NormalScan(std::int32_t Mode);
    // Forgets every result and readies the device for a new operation.
    void ClearResults();
    void TerminateProcess() { FTerminated = true; }

    // Children of the folder `aDir` (FAT its first cluster, exFAT its DirClusNum, NTFS its
    // 48-bit record number): their index range in ScannedFiles.
    bool GetDirBounds(std::uint64_t aDir, std::int32_t& first, std::int32_t& last) const;
    // Over a list sorted as ScannedFiles is; false with first = last = -1 for an empty list,
    // false with first = -1 when no entry has that parent cluster.
    bool GetFatBounds(const std::vector<TScanEntry*>& list, std::uint32_t ParentClusNum, std::int32_t& first,
                      std::int32_t& last) const;

    std::string EntryDisplayName(const TScanEntry* entry) const;
    // The folder entry an entry hangs under (null at the top), and the size of its data.
    const TScanEntry* EntryParent(const TScanEntry* entry) const;
    std::uint64_t EntryDataSize(const TScanEntry* entry) const;
    // The volume's file-system code (of the partition's boot-sector copy).
    std::uint8_t FileSystem() const { return FPartition->BootSector.FileSystemType; }
    storage::TDevice& Device() const { return *FDevice; }
    partitions::TPartition& Partition() const { return *FPartition; }
    const std::string& VolumeLabel() const { return FVolumeLabel; }
    const FatGeometry& Geometry() const { return FGeo; }

    // FAT/exFAT walkers (the exFAT walk and recovery share the chain reader).
    bool ScanFatVolume();
    bool EnumDir(TScanEntry* Parent, bool Recurse, bool LabelOnly);
    bool EnumExFatDir(TMidEntry* Parent, bool Recurse, bool LabelOnly);
    bool GetClusNumChain(std::uint32_t FirstClus, TClusterBuf& Chain, std::uint32_t& Count);
    std::int64_t FindHiClusNum(const std::string& FileName, std::int64_t HiClusNum, std::uint32_t LoClusNum);
    std::uint32_t maxclusnum() const;
    // exFAT sectors per cluster and cluster-heap offset, as the advanced geometry may override them.
    std::uint32_t ExFatSPC() const;
    std::uint64_t ExFatHeap() const;

    // NTFS walk and its building blocks.
    bool GetNtfsFilelist();
    void GetUnchainedDirs();
    void AddAdditionalRecords();
    void LinkNtfsParents(tntfsfilerecord* Dir);
    // The first attribute of AttrType (and AttrId when not 0) of record RecNum, read at ByteOfs
    // when that is positive, else where the record locator puts it.
    bool readattribute(std::int64_t RecNum, std::uint32_t AttrType, std::uint16_t AttrId, storage::TAttribute& Attr,
                       std::int64_t ByteOfs = -1);
    bool getntfsbounds(const std::vector<TScanEntry*>& list, std::uint64_t reference, std::int32_t& first,
                       std::int32_t& last) const;
    std::int64_t NtfsRecordByteOfs(std::int64_t n) const;
    // The volume's NTFS geometry; nullopt when its boot sector is not a readable NTFS one, and
    // then nothing of the volume is read as NTFS.
    const std::optional<NtfsGeometry>& NtfsGeo() const { return FNtfsGeo; }

    // Recovery. Files are written under a unique name in DestPath; the outcome goes to FOnRecover.
    bool RecoverFile(const TScanEntry* aFile, const std::string& ErasedFileName, const std::string& DestPath);
    bool RecoverDir(const TScanEntry* aDir, const std::string& ErasedDirName, const std::string& DestPath,
                    bool OnlyDeleted);
    // Recovers the children of aDir (null: the root folder) into DestFolder, which exists.
    bool RecoverChildren(const TScanEntry* aDir, const std::string& DestFolder, bool OnlyDeleted);
    // What a recovery of the children of aDir (null: the root folder) would write: the number
    // of files and their bytes, picked as the recovery picks them. Lets a recovery show the
    // progress of the whole before its first file.
    struct RecoveryTotals {
        std::uint64_t Files = 0;
        std::uint64_t Bytes = 0;
    };
    RecoveryTotals CountRecovery(const TScanEntry* aDir, bool OnlyDeleted);
    // The first min(Size, file size) bytes (Size below 1: 65536), without callbacks.
    bool RecoverFileToBuf(const TScanEntry* aFile, const std::string& ErasedFileName, std::vector<std::byte>& Buffer,
                          std::int64_t Size);
    // The last Size bytes; returns the file's size, 0 for a Size below 1 or a failure.
    std::int64_t RecoverFileTailToBuf(const TScanEntry* aFile, const std::string& ErasedFileName,
                                      std::vector<std::byte>& Buffer, std::int64_t Size);
    // Gives a recovered file the time its entry says it was last written.
    void SetRecoveredTimes(const TScanEntry* e, const std::string& path) const;
    // Whether DestPath lies on the disk area this object reads.
    bool DestInsideScannedObject(platform::Platform& os, const std::string& DestPath) const;
    // Size of a cluster in bytes, by file system.
    std::uint64_t ClusterBytes() const;
    // Bytes of the volume: its record's size, never past the end of the device.
    std::uint64_t VolumeBytes() const;

    // Search: entries of the folder aDir (null: the whole volume) whose name matches one of the
    // comma-separated patterns of FName ("*" and "?"; all names when empty), whose date of
    // DateType (0 created, 1 modified, 2 accessed) lies in [DateFrom, DateTo] (local time,
    // days since 1899-12-30; DateFrom 0: any), whose size lies in [SizeMin, SizeMax] (negative:
    // any) and, with IsOnlyDeleted, that are deleted; appended to FileList, at most 10000.
    bool FindFiles(const std::string& FName, bool CaseSensi, int DateType, double DateFrom, double DateTo,
                   std::int64_t SizeMin, std::int64_t SizeMax, const TScanEntry* aDir, bool IsOnlyDeleted,
                   bool SearchSubDir, std::vector<TScanEntry*>& FileList);

    // The deleted-only filter.
    void BuildDelFilter();
    void InvalidateDelFilter();
    bool DelScanDir(std::uint64_t DirKey, bool SelfDel, bool InheritedDel);
    bool DelDirIsDeleted(std::uint64_t DirKey);
    bool DelSubtreeHasDeleted(std::uint64_t DirKey);
    bool DelEntryIsDeleted(const TScanEntry* Entry);
    bool DelEntryIsDir(const TScanEntry* Entry) const;
    bool DelIsDeletedEntry(const TScanEntry* Entry) const;
    std::uint64_t DelKeyOfEntry(const TScanEntry* Entry) const;
    std::uint64_t DelParentKeyOfEntry(const TScanEntry* Entry) const;
    std::uint64_t DelEntryDirKey(const TScanEntry* Entry) const { return DelKeyOfEntry(Entry); }
    std::uint64_t DelRootKey() const;

    // Shows the message of an exception caught by a walker in an error box.
    void ReportException(const std::exception& e);

    std::atomic<bool> FScaned{false};
    std::atomic<bool> FAdvScaned{false};
    bool FWholeDiskObject = false;
    std::atomic<bool> Processing{false};
    std::atomic<bool> FTerminated{false};
    std::vector<TScanEntry*> ScannedFiles;  // records owned by this object, see newEntry
    std::vector<TScanEntry*> FoundFiles;    // borrowed from ScannedFiles
    std::vector<std::uint32_t> ScannedDirSectors;
    std::unordered_map<std::uint64_t, std::uint8_t> FDelFilter;
    bool FDelFilterBuilt = false;
    bool FDelFilterOn = false;
    bool DeepScan = false;
    bool AdvMode = false;
    // Geometry the advanced scan infers; the standard walks read it through the accessors.
    std::int32_t SectorsPerClus = 0;
    std::int32_t SectorsPerClus_NTFS = 0;
    std::int32_t RootSectNum = 0;
    std::int32_t RootDirSectNum = 0;
    std::int32_t ExFatSectorsPerClus = 0;
    std::int64_t ExFatHeapOffset = -1;
    bool FAdvExFatGeoDone = false;
    std::int64_t AdvRangeStart = 0;
    std::int64_t AdvRangeEnd = -1;
    // FAT folders finished before a checkpoint; the FAT walk skips them.
    std::optional<std::unordered_set<std::uint32_t>> FResumeSkipClus;
    std::unordered_set<std::uint32_t> FExFatVisited;
    // NTFS: records up to this number were finished before a checkpoint.
    std::int64_t FResumeSkipRecordNum = 0;
    // The entries a stopped standard scan had found, put back by the next NormalScan once it
    // has cleared the old results (then dropped): what the skips above leave out.
    std::function<void(TUndelete&)> FResumeRecords;
    // A copy of a saved entry (FAT, FAT32, exFAT or NTFS, by its kind) owned by this object and
    // appended to ScannedFiles; its Parent is left unset.
    TScanEntry* AdoptEntry(const TScanEntry& entry);
    std::vector<TRunForTable> RunTable;
    std::vector<std::uint64_t> UnchainedFolders;
    tntfsfilerecord RootUnChained;

    TOnEnumDir FOnEnumDir;
    TOnScanCheckpoint FOnScanCheckpoint;
    TOnRecover FOnRecover;
    TOnRecoverProgress FOnRecoverProgress;
    // The data size of the file whose recovery FOnRecover has just announced.
    std::uint64_t FRecoveringSize = 0;

private:
    template <class E>
    bool enumDir(E* Parent, bool Recurse, bool LabelOnly);
    template <class E>
    E* newEntry();
    class VolumeRecords;
    // Extension records and attribute lists of this volume, for the record parser.
    NtfsRecordSource& ntfsRecords();
    using DataSink = std::function<bool(std::span<const std::byte>)>;
    // The bytes of a file from byte `from`, at most `limit` of them, into `sink`; a status code.
    std::int32_t readFileData(const TScanEntry* e, const std::string& name, std::uint64_t from, std::uint64_t limit,
                              bool interactive, const DataSink& sink);
    // FAT and exFAT: the extents of the file's bytes [from, from + limit), which start at file
    // offset `listStart`.
    std::int32_t fileExtents(const TScanEntry* e, const std::string& name, std::uint64_t from, std::uint64_t limit,
                             std::vector<DataExtent>& out, std::uint64_t& size, std::uint64_t& listStart);
    std::int32_t ntfsExtents(const tntfsfilerecord& f, std::vector<DataExtent>& out, bool& compressed,
                             std::vector<std::byte>& resident, bool& isResident);
    std::int32_t copyExtents(const std::vector<DataExtent>& extents, std::uint64_t listStart, std::uint64_t size,
                             std::uint64_t from, std::uint64_t limit, bool interactive, const DataSink& sink);
    std::int32_t copyCompressed(const std::vector<DataExtent>& extents, std::uint64_t size, std::uint64_t from,
                                std::uint64_t limit, bool interactive, const DataSink& sink);
    bool recoverDir(const TScanEntry* aDir, const std::string& name, const std::string& DestPath, bool OnlyDeleted,
                    int depth);
    bool recoverChildren(const TScanEntry* aDir, const std::string& folder, bool OnlyDeleted, int depth);
    // Calls visit(child, isFolder) for the entries of aDir that recovery takes; false when the
    // folder has none, is too deep, or the run was stopped.
    template <class Visit>
    bool forEachChild(const TScanEntry* aDir, bool OnlyDeleted, int depth, Visit&& visit);
    // Reports every file under aDir (as recovery would pick them) as failed with `code`.
    void failChildren(const TScanEntry* aDir, bool OnlyDeleted, std::int32_t code, int depth);
    void countChildren(const TScanEntry* aDir, bool OnlyDeleted, int depth, RecoveryTotals& totals);
    struct SearchQuery;
    bool findIn(const TScanEntry* aDir, const SearchQuery& q, std::vector<TScanEntry*>& FileList, int depth);
    void addNtfsEntries(std::span<const std::byte> rec, std::int64_t slotSector, std::int64_t counter, bool torn);
    bool readRecordAt(std::int64_t byteOfs, std::vector<std::byte>& rec);
    void linkNtfsParents(tntfsfilerecord* Dir, std::vector<std::int64_t>& path);
    void ReadVolumeLabel();
    void sortScannedFiles();
    void linkRestoredEntries(const std::vector<TScanEntry*>& restored);
    void rebuildScannedDirSectors();
    void probeDevice();
    void pump();
    bool stopRequested() const;
    std::uint32_t ParentClusterOf(const TScanEntry* e) const;
    std::uint32_t exfatClusterSector(std::uint32_t c) const;
    std::vector<std::uint32_t> exfatFolderClusters(const TMidEntry* folder, std::uint32_t first);

    storage::TDevice* FDevice;
    partitions::TPartition* FPartition;
    storage::MessageSink* FUi;
    std::string FVolumeLabel;
    FatGeometry FGeo;
    std::unique_ptr<VolumeReader> FReader;
    std::unique_ptr<FatTable> FFat;
    EntryStore<TMidEntry> FMidEntries;      // FAT12/16 and exFAT records
    EntryStore<TMidEntry32> FMid32Entries;  // FAT32 records
    EntryStore<tntfsfilerecord> FNtfsEntries;
    std::optional<NtfsGeometry> FNtfsGeo;
    std::unique_ptr<NtfsRecordSource> FNtfsRecords;
    std::vector<std::uint32_t> FPathClusters;       // folders on the current path of the walk
    std::unordered_set<std::uint64_t> FWalkedDirs;  // (first cluster, deleted) of folders walked
    std::unordered_set<std::uint32_t> FChainSeen;
};

}  // namespace brenvale::scan
