#include "file_walk.h"

#include <functional>

#include "left_behind.h"
#include "patcher_ui.h"

// Why an item stayed, completing "could not be moved: ...".
const char* const kWhyFolderInWay = "a folder of that name is in the way";
const char* const kWhyFileInWay = "a file of that name is in the way";
const char* const kWhyNotMoved = "it could not be moved";
const char* const kWhyNotCopied = "it could not be copied";
const char* const kWhyNotRemoved = "it could not be removed";
const char* const kWhyNotListed = "its folder could not be read";
const char* const kWhyStillThere = "it is still in place";

namespace {

// The first failure met while one listed item is taken, named where it
// happened: deep in a merged folder, that is the file the player must look
// at, not the folder the request named.
struct Failure {
    std::string path;
    std::string reason;
};
Failure firstFailure;

bool Clash(const std::string& path, const char* why) {
    if (firstFailure.path.empty()) firstFailure = {path, why};
    return false;
}

// A call of the access failed: the system's reason is told too.
bool Fail(const ItemAccess& access, const std::string& path, const char* why) {
    if (!firstFailure.path.empty()) return false;
    Clash(path, why);
    const std::string detail = access.describeFailure ? access.describeFailure() : std::string();
    if (!detail.empty()) firstFailure.reason += ": " + detail;
    return false;
}

// After a listed item was taken: notes it when it, or a part of it, stayed.
void NoteWhatStayed(const std::string& path) {
    if (!firstFailure.path.empty()) {
        NoteLeftBehind(firstFailure.path, firstFailure.reason);
    } else {
        NoteLeftBehind(path, kWhyStillThere);
    }
}

bool SameIdentity(const ItemIdentity& a, const ItemIdentity& b) {
    const bool known = a.index != 0 || a.indexHigh != 0;
    return known && a.volume == b.volume && a.index == b.index && a.indexHigh == b.indexHigh;
}

bool SameItem(const ItemAccess& access, const std::string& a, const std::string& b) {
    ItemIdentity first, second;
    return access.identify(a, &first) && access.identify(b, &second) && SameIdentity(first, second);
}

std::string FolderOf(const ItemAccess& access, const std::string& path) {
    const size_t last = path.rfind(access.separator);
    if (last == std::string::npos) return ".";
    return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

bool ListFolder(const ItemAccess& access, const std::string& folder, std::vector<WalkItem>* items) {
    return access.list(folder, "*", items);
}

// One copy request. `within` holds the folders being copied around the
// current one, so a link back up one of them is not followed without end;
// `root` is the folder the request makes, never copied into itself.
struct Copy {
    const ItemAccess& access;
    bool linksAsLinks;  // a move's copy to another volume
    std::vector<ItemIdentity> within;
    bool rooted = false;
    ItemIdentity root;
};

bool CopiedAsLink(const Copy& copy, const WalkItem& item, bool named) {
    return item.link && (copy.linksAsLinks || (!named && copy.access.copiesInnerLinks));
}

bool CopyItem(Copy& copy, const WalkItem& item, const std::string& targetFolder, bool named) {
    const ItemAccess& access = copy.access;
    const WalkItem existing = access.inspect(access.targetFor(access.names, targetFolder, NameOf(access, item.path)));
    // A move's copy replaces the player's link to the item, as the rename would.
    const bool linkToReplace = copy.linksAsLinks && existing.link;
    if (existing.exists && !linkToReplace && SameItem(access, item.path, existing.path)) return false;
    const bool asLink = CopiedAsLink(copy, item, named);
    if (item.folder && !asLink) {
        if (existing.exists && !existing.folder) return Clash(item.path, kWhyFileInWay);
        ItemIdentity identity;
        if (!access.identify(item.path, &identity)) return Fail(access, item.path, kWhyNotCopied);
        for (const ItemIdentity& outer : copy.within) {
            if (SameIdentity(outer, identity)) return false;
        }
        if (!existing.exists && !access.makeFolder(existing.path)) return Fail(access, item.path, kWhyNotCopied);
        if (!copy.rooted && !access.identify(existing.path, &copy.root)) return Fail(access, item.path, kWhyNotCopied);
        copy.rooted = true;
        std::vector<WalkItem> children;
        bool copied = ListFolder(access, item.path, &children) || Fail(access, item.path, kWhyNotListed);
        copy.within.push_back(identity);
        for (const WalkItem& child : children) {
            ItemIdentity childIdentity;
            if (child.folder && !CopiedAsLink(copy, child, false) && access.identify(child.path, &childIdentity) &&
                SameIdentity(childIdentity, copy.root)) {
                continue;
            }
            copied = CopyItem(copy, child, existing.path, false) && copied;
        }
        copy.within.pop_back();
        return copied;
    }
    if (existing.folder) return Clash(item.path, kWhyFolderInWay);
    return (asLink ? access.copyLink(item, existing) : access.copyFile(item, existing)) ||
           Fail(access, item.path, kWhyNotCopied);
}

bool CopyWhole(const ItemAccess& access, const WalkItem& item, const std::string& targetFolder, bool linksAsLinks) {
    Copy copy{access, linksAsLinks, {}, false, {}};
    return CopyItem(copy, item, targetFolder, true);
}

// Nothing is removed through a link: a link goes as itself.
bool RemoveItem(const ItemAccess& access, const WalkItem& item) {
    bool removed = true;
    if (item.folder && !item.link) {
        std::vector<WalkItem> children;
        removed = ListFolder(access, item.path, &children) || Fail(access, item.path, kWhyNotListed);
        for (const WalkItem& child : children) removed = RemoveItem(access, child) && removed;
    }
    return removed && (access.remove(item) || Fail(access, item.path, kWhyNotRemoved));
}

// A link moves as the link, and is no folder to merge.
bool MoveItem(const ItemAccess& access, const WalkItem& item, const std::string& targetFolder) {
    const WalkItem existing = access.inspect(access.targetFor(access.names, targetFolder, NameOf(access, item.path)));
    const bool mergeable = item.folder && !item.link;
    WalkItem target = existing;
    if (existing.exists && SameItem(access, item.path, existing.path)) {
        // A link is never put in the place of what it names; an item the
        // target folder (the item's own, through a link) already holds stays.
        const bool alreadyThere = item.folder || SameItem(access, FolderOf(access, item.path), targetFolder);
        if (!existing.link && (item.link || alreadyThere)) return !item.link;
        // The player's link to the item, or a second (hard) name of the file,
        // is replaced by the item, as any file of that name is; a folder
        // cannot be renamed over a link.
        if (mergeable && !access.remove(existing)) return Fail(access, item.path, kWhyNotMoved);
        if (mergeable) target = WalkItem{existing.path};
    } else if (existing.exists) {
        if (mergeable != existing.folder) {
            return Clash(item.path, existing.folder ? kWhyFolderInWay : kWhyFileInWay);
        }
        if (mergeable) {
            std::vector<WalkItem> children;
            bool moved = ListFolder(access, item.path, &children) || Fail(access, item.path, kWhyNotListed);
            for (const WalkItem& child : children) moved = MoveItem(access, child, existing.path) && moved;
            return moved && (access.remove(item) || Fail(access, item.path, kWhyNotRemoved));
        }
    }
    switch (access.rename(item, target)) {
        case Renamed::kDone:
            return true;
        case Renamed::kFailed:
            return Fail(access, item.path, kWhyNotMoved);
        case Renamed::kOtherVolume:
            break;
    }
    // The copy is whole before the source goes.
    return CopyWhole(access, item, targetFolder, true) && RemoveItem(access, item);
}

}  // namespace

std::string JoinPath(const ItemAccess& access, const std::string& folder, const std::string& name) {
    size_t end = folder.size();
    while (end > 0 && folder[end - 1] == access.separator) --end;
    return folder.substr(0, end) + access.separator + name;
}

bool HasWildcard(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

std::string NameOf(const ItemAccess& access, const std::string& path) {
    return path.substr(path.rfind(access.separator) + 1);
}

bool ListSource(const ItemAccess& access, const std::string& source, std::vector<WalkItem>* items) {
    if (HasWildcard(NameOf(access, source))) {
        const std::string folder = FolderOf(access, source);
        if (!access.inspect(folder).folder) return false;
        if (access.list(folder, NameOf(access, source), items)) return true;
        // Whatever it holds stays: a folder that cannot be read is no empty one.
        firstFailure = {};
        Fail(access, folder, kWhyNotListed);
        NoteWhatStayed(folder);
        return false;
    }
    const WalkItem item = access.inspect(source);
    if (item.exists) items->push_back(item);
    return item.exists;
}

// Takes each listed item still there with `take`; true when none stayed.
bool TakeListed(const ItemAccess& access, const std::vector<WalkItem>& items,
                const std::function<void(const WalkItem&)>& take) {
    bool allGone = true;
    for (const WalkItem& item : items) {
        StayResponsive();
        firstFailure = {};
        const WalkItem left = access.inspect(item.path);
        if (!left.exists) continue;
        take(left);
        if (access.inspect(item.path).exists) {
            NoteWhatStayed(item.path);
            allGone = false;
        }
    }
    return allGone;
}

bool MoveListed(const ItemAccess& access, const std::vector<WalkItem>& items, const std::string& folder) {
    return TakeListed(access, items, [&](const WalkItem& item) { MoveItem(access, item, folder); });
}

bool DeleteListed(const ItemAccess& access, const std::vector<WalkItem>& items) {
    return TakeListed(access, items, [&](const WalkItem& item) { RemoveItem(access, item); });
}

// A copy that meets itself (a target linked to its source) or a link back up
// fails without a failure to name: nothing the player has is missing there.
bool CopyListed(const ItemAccess& access, const std::vector<WalkItem>& items, const std::string& folder) {
    bool copied = true;
    for (const WalkItem& item : items) {
        StayResponsive();
        firstFailure = {};
        if (CopyWhole(access, item, folder, false)) continue;
        copied = false;
        if (!firstFailure.path.empty()) NoteWhatStayed(item.path);
    }
    return copied;
}
