// SourceResolvers: how the worker resolves a watched project's data source
// and a watched table's names while it loads the rules.
//
// The service uses the data-source and table-name rules of the installation
// (ResolveProjectSource, ResolveTableNames); tests put installations of their
// own in their place, for example client-server projects served from dBase
// files.
#pragma once

#include <functional>
#include <string_view>

#include "data/project_source.h"
#include "data/server_paths.h"
#include "data/table_names.h"

namespace vigilo {

using ProjectSourceResolver = std::function<ProjectSource(
    const CServerPaths& paths, long kind, std::string_view dsn, std::string_view project)>;

using TableNamesResolver = std::function<TableNames(
    long kind, std::string_view project, const ProjectSource& source, std::string_view table)>;

struct SourceResolvers {
  ProjectSourceResolver project = ResolveProjectSource;
  TableNamesResolver table = ResolveTableNames;
};

}  // namespace vigilo
