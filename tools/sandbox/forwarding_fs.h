// A GDAL file system that hands every call to another: the base of handlers that differ in one policy.
#pragma once

#include <cpl_vsi_virtual.h>

#include <string>

// Like GDAL's local handler in every way but what a subclass overrides (the gate overrides Open).
class ForwardingFilesystem : public VSIFilesystemHandler {
public:
    explicit ForwardingFilesystem(VSIFilesystemHandler *to) : local_(to) {}

    VSIVirtualHandle *Open(const char *name, const char *access, bool set_error, CSLConstList options) override {
        return local_->Open(name, access, set_error, options);
    }
    int Stat(const char *name, VSIStatBufL *st, int flags) override { return local_->Stat(name, st, flags); }
    int Unlink(const char *name) override { return local_->Unlink(name); }
    int *UnlinkBatch(CSLConstList files) override { return local_->UnlinkBatch(files); }
    int Mkdir(const char *name, long mode) override { return local_->Mkdir(name, mode); }
    int Rmdir(const char *name) override { return local_->Rmdir(name); }
    int RmdirRecursive(const char *name) override { return local_->RmdirRecursive(name); }
    char **ReadDir(const char *name) override { return local_->ReadDir(name); }
    char **ReadDirEx(const char *name, int max) override { return local_->ReadDirEx(name, max); }
    char **SiblingFiles(const char *name) override { return local_->SiblingFiles(name); }
    int Rename(const char *from, const char *to) override { return local_->Rename(from, to); }
    int IsCaseSensitive(const char *name) override { return local_->IsCaseSensitive(name); }
    GIntBig GetDiskFreeSpace(const char *name) override { return local_->GetDiskFreeSpace(name); }
    int SupportsSparseFiles(const char *name) override { return local_->SupportsSparseFiles(name); }
    int HasOptimizedReadMultiRange(const char *name) override { return local_->HasOptimizedReadMultiRange(name); }
    const char *GetActualURL(const char *name) override { return local_->GetActualURL(name); }
    const char *GetOptions() override { return local_->GetOptions(); }
    char *GetSignedURL(const char *name, CSLConstList options) override { return local_->GetSignedURL(name, options); }
    bool Sync(const char *from, const char *to, const char *const *options, GDALProgressFunc progress, void *data,
              char ***outputs) override {
        return local_->Sync(from, to, options, progress, data, outputs);
    }
    VSIDIR *OpenDir(const char *name, int depth, const char *const *options) override {
        return local_->OpenDir(name, depth, options);
    }
    char **GetFileMetadata(const char *name, const char *domain, CSLConstList options) override {
        return local_->GetFileMetadata(name, domain, options);
    }
    bool SetFileMetadata(const char *name, CSLConstList metadata, const char *domain, CSLConstList options) override {
        return local_->SetFileMetadata(name, metadata, domain, options);
    }
    bool AbortPendingUploads(const char *name) override { return local_->AbortPendingUploads(name); }
    std::string GetStreamingFilename(const std::string &name) const override { return local_->GetStreamingFilename(name); }
    bool IsLocal(const char *name) override { return local_->IsLocal(name); }
    bool SupportsSequentialWrite(const char *name, bool temp) override { return local_->SupportsSequentialWrite(name, temp); }
    bool SupportsRandomWrite(const char *name, bool temp) override { return local_->SupportsRandomWrite(name, temp); }
    bool SupportsRead(const char *name) override { return local_->SupportsRead(name); }

protected:
    VSIFilesystemHandler *local_;
};
