#include "MemoryFolderSystem.h"

QString MemoryFolderSystem::key(const QString &path) const {
    const QStringList parts = path.split(separator_, Qt::SkipEmptyParts);
    return (path.startsWith(separator_) ? QString(separator_) : QString()) + parts.join(separator_);
}

void MemoryFolderSystem::add(const QString &path, const Node &node) {
    const QString k = key(path);
    const qsizetype cut = k.lastIndexOf(separator_);
    if (cut >= 0 && k.size() > 1) {
        const QString parent = cut == 0 ? QString(separator_) : k.left(cut);
        if (!nodes_.contains(parent))
            addFolder(parent);
        Node &p = nodes_[parent];
        const QString name = k.mid(cut + 1);
        QStringList &names = node.attributes & Directory ? p.folders : p.files;
        if (!names.contains(name))
            names << name;
    }
    Node &n = nodes_[k];
    n.attributes = node.attributes;
    n.openable = node.openable;
}

void MemoryFolderSystem::addFolder(const QString &path, int attributes) {
    add(path, Node{attributes | Directory, false, -1, {}, {}});
}

void MemoryFolderSystem::addFile(const QString &path, int attributes, bool openable) {
    add(path, Node{attributes & ~Directory, openable, -1, {}, {}});
}

void MemoryFolderSystem::failListing(const QString &folder, int code) {
    nodes_[key(folder)].listingError = code;
}

std::optional<int> MemoryFolderSystem::attributes(const QString &path) const {
    const auto it = nodes_.find(key(path));
    if (it == nodes_.end())
        return std::nullopt;
    return it->second.attributes;
}

bool MemoryFolderSystem::isRootFolder(const QString &path) const {
    const QString k = key(path);
    return nodes_.contains(k) && (k == QString(separator_) || !k.contains(separator_));
}

const MemoryFolderSystem::Node &MemoryFolderSystem::folder(const QString &path) const {
    const auto it = nodes_.find(key(path));
    if (it == nodes_.end() || !(it->second.attributes & Directory))
        throw FolderFailure(FolderFailure::PathNotFound, QStringLiteral("Path not found"));
    return it->second;
}

QStringList MemoryFolderSystem::subFolderNames(const QString &path) const {
    const Node &node = folder(path);
    if (node.listingError >= 0)
        throw FolderFailure(node.listingError, QStringLiteral("Cannot list the folder"));
    QStringList names = node.folders;
    sortFolderNames(names);
    return names;
}

QStringList MemoryFolderSystem::fileNames(const QString &path) const {
    QStringList names = folder(path).files;
    sortFolderNames(names);
    return names;
}

bool MemoryFolderSystem::isOpenableFile(const QString &path) const {
    const auto it = nodes_.find(key(path));
    return it != nodes_.end() && !(it->second.attributes & Directory) && it->second.openable;
}
