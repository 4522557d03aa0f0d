// Include-root checks on resolved paths: "../" and symbolic links are
// followed before the comparison, so neither can lead outside the root.
#include "IncludeRoot.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace folio {

namespace {

bool resolve(const std::string& path, std::string& out) {
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r)
        return false;
    out = r;
    std::free(r);
    return true;
}

} // namespace

bool IncludeRoot::Create(const std::string& folder, std::function<void(const std::string&)> warn,
                         IncludeRoot& out, std::string& error) {
    std::string resolved;
    struct stat st;
    if (!resolve(folder, resolved) || ::stat(resolved.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = folder + ": not a folder";
        return false;
    }
    out.root_ = resolved;
    out.warn_ = std::move(warn);
    return true;
}

bool IncludeRoot::MayRead(const std::string& path) {
    std::string resolved;
    if (!resolve(path, resolved))
        return false;
    const bool inside = root_ == "/" || (resolved.size() > root_.size() &&
                                         resolved.compare(0, root_.size(), root_) == 0 &&
                                         resolved[root_.size()] == '/');
    if (!inside && warn_)
        warn_("FILE " + path + " is outside the include root " + root_ + "; ignored");
    return inside;
}

} // namespace folio
