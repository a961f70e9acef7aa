#include <algorithm>
#include <utility>

#include "raw/formats/compressed_stream.h"
#include "raw/scan_context.h"

namespace brenvale::raw {

void TArchiveFileInfo::AddName(std::string_view name) {
    if (!AnyName) FirstIsContentTypes = name.starts_with("[Content_Types].xml");
    AnyName = true;
    if (name.find("META-INF") != std::string_view::npos) MetaInf = true;
    if (name.find("word/document.xml") != std::string_view::npos) WordDocument = true;
    if (name.find("xl/workbook.xml") != std::string_view::npos) ExcelWorkbook = true;
    if (name.find("ppt/presentation.xml") != std::string_view::npos) PowerPointPresentation = true;
    if (name == "PROJECT.XML") ProteusProject |= kProteusXml;
    if (name == "ROOT.DSN") ProteusProject |= kProteusDsn;
    // The names listed stay whole: one that does not fit with its separator is left out.
    if (name.size() + 1 > kNamesBytes - NamesLength) return;
    std::copy(name.begin(), name.end(), FileNames.begin() + NamesLength);
    NamesLength = static_cast<std::uint8_t>(NamesLength + name.size());
    FileNames[NamesLength++] = '\r';
}

SideTables::SideTables() = default;
SideTables::~SideTables() = default;

std::uint32_t SideTables::NewArchiveInfo() {
    archives_.emplace_back();
    return static_cast<std::uint32_t>(archives_.size());
}

TArchiveFileInfo* SideTables::Archive(std::uint32_t info) {
    return info >= 1 && info <= archives_.size() ? &archives_[info - 1] : nullptr;
}

const TArchiveFileInfo* SideTables::Archive(std::uint32_t info) const {
    return info >= 1 && info <= archives_.size() ? &archives_[info - 1] : nullptr;
}

std::uint32_t SideTables::NewImageInfo() {
    images_.emplace_back();
    return static_cast<std::uint32_t>(images_.size());
}

TRawImageInfo* SideTables::Image(std::uint32_t info) {
    return info >= 1 && info <= images_.size() ? &images_[info - 1] : nullptr;
}

const TRawImageInfo* SideTables::Image(std::uint32_t info) const {
    return info >= 1 && info <= images_.size() ? &images_[info - 1] : nullptr;
}

std::uint32_t SideTables::NewCompoundInfo(TCBFFFileInfo info) {
    compounds_.push_back(std::move(info));
    return static_cast<std::uint32_t>(compounds_.size());
}

const TCBFFFileInfo* SideTables::Compound(std::uint32_t info) const {
    return info >= 1 && info <= compounds_.size() ? &compounds_[info - 1] : nullptr;
}

std::uint32_t SideTables::NewStream() {
    auto slot = std::find(streams_.begin(), streams_.end(), nullptr);
    if (slot == streams_.end()) {
        if (streams_.size() >= kMaxStreams) return 0;
        slot = streams_.insert(streams_.end(), nullptr);
    }
    *slot = std::make_unique<StreamMeasure>();
    return static_cast<std::uint32_t>(slot - streams_.begin() + 1);
}

StreamMeasure* SideTables::Stream(std::uint32_t info) {
    return info >= 1 && info <= streams_.size() ? streams_[info - 1].get() : nullptr;
}

void SideTables::FreeStream(std::uint32_t info) {
    if (info >= 1 && info <= streams_.size()) streams_[info - 1].reset();
}

void SideTables::Clear() {
    archives_.clear();
    images_.clear();
    compounds_.clear();
    streams_.clear();
}

}  // namespace brenvale::raw
