// Checks of a file named as an input before GDAL sees it: a regular file, and no network source named in its text.
#include "sandbox/gate.h"

#include "format/safe_read.h"

#include <cpl_error.h>
#include <cpl_minixml.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The input opened to read, as check_plain_input wants it; fd -1 for a directory.
Status open_plain(const std::string &path, int &fd, long long &size) {
    fd = -1;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return Status::fail(cause(path, "cannot open", errno));
    if (S_ISDIR(st.st_mode)) return {};
    // What it is, before an open that the reader's confinement may refuse.
    if (!S_ISREG(st.st_mode)) return Status::at(path, std::string("it is ") + file_kind(st.st_mode) + ", not a regular file");
    std::string why;
    fd = open_regular(path.c_str(), size, why);
    if (fd == -2) return Status::at(path, "it is " + why + ", not a regular file");
    if (fd < 0) return Status::at(path, why);
    return {};
}

}  // namespace

Status check_plain_input(const std::string &path) {
    int fd = -1;
    long long size = 0;
    const Status st = open_plain(path, fd, size);
    if (fd >= 0) close(fd);
    return st;
}

namespace {

// A value standing where a file name stands, alone (surrounding quotes or brackets aside), that
// names a network source: what `value` holds then, else empty.
std::string network_source(std::string_view value) {
    const size_t from = value.find_first_not_of(" \t\r\n\"'({[<");
    const size_t to = value.find_last_not_of(" \t\r\n\"')}]>,;");
    if (from == std::string_view::npos || to < from) return "";
    const std::string name(value.substr(from, to + 1 - from));
    if (name.find_first_of(" \t\r\n") != std::string::npos) return "";  // prose, not a name
    return is_network_name(name) ? name : "";
}

// Attributes that say which vocabulary an XML file speaks, never a file to read.
bool declares_vocabulary(const char *attribute) {
    const std::string a = attribute;
    const size_t colon = a.find(':');
    const std::string local = colon == std::string::npos ? a : a.substr(colon + 1);
    return a == "xmlns" || a.rfind("xmlns:", 0) == 0 || local == "schemaLocation" || local == "noNamespaceSchemaLocation";
}

// The first network source an XML document names: among its element texts and attribute values;
// not in namespaces, schema locations, comments, processing instructions or a DOCTYPE.
std::string xml_network_source(const CPLXMLNode *root) {
    std::vector<const CPLXMLNode *> todo = {root};
    while (!todo.empty()) {
        const CPLXMLNode *n = todo.back();
        todo.pop_back();
        for (; n; n = n->psNext) {
            if (n->eType == CXT_Text) {
                if (std::string found = network_source(n->pszValue); !found.empty()) return found;
            } else if ((n->eType == CXT_Element && n->pszValue[0] != '?' && n->pszValue[0] != '!') ||
                       (n->eType == CXT_Attribute && !declares_vocabulary(n->pszValue))) {
                todo.push_back(n->psChild);
            }
        }
    }
    return "";
}

// The first network source a text in lines names: a line's whole value ("KEY = VALUE"), or a
// whole line.
std::string text_network_source(const std::string &text) {
    for (size_t from = 0; from < text.size();) {
        const size_t end = std::min(text.find('\n', from), text.size());
        const std::string_view line(text.data() + from, end - from);
        if (std::string found = network_source(line); !found.empty()) return found;
        if (const size_t eq = line.find('='); eq != std::string_view::npos)
            if (std::string found = network_source(line.substr(eq + 1)); !found.empty()) return found;
        from = end + 1;
    }
    return "";
}

}  // namespace

Status check_references(const std::string &path) {
    int fd = -1;
    long long size = 0;
    if (Status st = open_plain(path, fd, size); !st.ok || fd < 0) return st;
    // The head first: a binary file (most rasters, and large) is not read further. What such a
    // format names, the gate sees as GDAL opens it.
    std::string text(static_cast<size_t>(std::min(size, 4096LL)), '\0');
    bool binary = read_full(fd, text.data(), static_cast<long long>(text.size())) != static_cast<long long>(text.size()) ||
                  text.find('\0') != std::string::npos || size > (64LL << 20);
    if (!binary && size > static_cast<long long>(text.size())) {
        const size_t head = text.size();
        text.resize(static_cast<size_t>(size));
        binary = read_full(fd, text.data() + head, size - static_cast<long long>(head)) != size - static_cast<long long>(head);
    }
    close(fd);
    if (binary) return {};
    std::string found;
    const size_t lead = text.find_first_not_of(" \t\r\n");
    std::unique_ptr<CPLXMLNode, void (*)(CPLXMLNode *)> xml(nullptr, CPLDestroyXMLNode);
    if (lead != std::string::npos && text[lead] == '<') {
        CPLErrorStateBackuper keep;
        CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        xml.reset(CPLParseXMLString(text.c_str()));
    }
    found = xml ? xml_network_source(xml.get()) : text_network_source(text);
    if (found.empty()) return {};
    return Status::at(path, refusal_cause({found, "", true}, path));
}
