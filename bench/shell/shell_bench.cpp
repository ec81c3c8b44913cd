// Start-up and memory of the whole program with 0, 1,000 and 10,000 servers: the
// time from the process's start to the manager's list filled, to the main window's
// first paint (the list on screen) and to both web pages loaded, the CPU time spent
// by then, and the memory of the process tree (the program and its web engine
// helpers) with the manager and the default web tab loaded, once it has settled.
// Each start is a fresh process (shell_start, beside this program). Two starts of a
// window holding nothing but one web page come first: the floor that the web engine
// alone sets under both figures.
//
// This driver links no Qt on purpose: a process that maps the same libraries as the
// program would take a share of their pages and make the program's PSS look smaller.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

void WriteCatalogue(const fs::path &path, int servers)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const int groups = 20;
    out << "[MISC]\nMaxGroupID=" << groups << "\nMaxServerId=" << servers << "\n\n";
    for (int g = 1; g <= groups; ++g)
        out << "[GroupItem" << g << "]\nGroupName=机房 " << g << "\n\n";
    for (int s = 1; s <= servers; ++s)
        out << "[ServerItem" << s << "]\nGroupId=" << (s % groups) + 1 << "\nDescription=服务器 " << s
            << "\nServer=127." << (s >> 16) % 256 << '.' << (s >> 8) % 256 << '.' << s % 256 << "\nPort=3389"
            << "\nDomain=\nUser=administrator\nPassword=\nWidth=1024\nHeight=768\nFullScreen=0\nColorDeepth=24\n\n";
    if (!out)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

// Runs one start and returns its line of figures, split at blanks; empty on failure.
std::vector<std::string> StartOnce(const fs::path &starter, const fs::path &ini, int servers,
                                   const std::string &variant)
{
    // Appended piece by piece: GCC 12 warns wrongly about "text" + string here.
    std::string command = "'";
    command.append(starter.string()).append("' '").append(ini.string()).append("' ");
    command.append(std::to_string(servers)).append(" ").append(variant).append(" 2>/dev/null");
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string output;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), int(buffer.size()), pipe))
        output += buffer.data();
    const int status = ::pclose(pipe);
    std::vector<std::string> fields;
    std::istringstream words(output);
    for (std::string word; words >> word;)
        fields.push_back(word);
    if (status != 0 || fields.size() < 10)
        return {};
    return fields;
}

} // namespace

int main()
{
    const fs::path starter = fs::read_symlink("/proc/self/exe").parent_path() / "shell_start";
    std::string folderTemplate = (fs::temp_directory_path() / "shell_bench-XXXXXX").string();
    if (!::mkdtemp(folderTemplate.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder = folderTemplate;
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("Start-up to the manager's list filled, and memory of the whole process tree\n"
                "(manager + default web tab). Platform: %s; each line a fresh process.\n\n",
                platform && *platform ? platform : "default");
    std::printf("%8s %10s %10s %9s %8s %8s %10s %12s %12s  %s\n", "servers", "filled ms", "shown ms", "pages ms",
                "CPU ms", "rows", "processes", "tree RSS MB", "tree PSS MB", "manager");
    int status = 0;
    const auto startAndPrint = [&](const fs::path &ini, int servers, const std::string &variant) {
        const auto f = StartOnce(starter, ini, servers, variant);
        if (f.empty()) {
            std::printf("%8d   run failed (%s)\n", servers, variant.c_str());
            status = 1;
            return;
        }
        std::printf("%8s %10s %10s %9s %8s %8s %10s %12s %12s  %s%s\n", f[0].c_str(), f[1].c_str(), f[8].c_str(),
                    f[9].c_str(), f.size() > 10 ? f[10].c_str() : "-", f[2].c_str(), f[3].c_str(), f[4].c_str(),
                    f[5].c_str(), f[7].c_str(), f[6] == "1" ? "" : " (web tab not loaded)");
    };
    const fs::path empty = folder / "SvrList-0.ini";
    WriteCatalogue(empty, 0);
    for (int round = 0; round < 2; ++round)
        startAndPrint(empty, 0, "engine-only");
    const std::array<std::string, 2> variants{"manager", "stand-in"};
    for (const int servers : {0, 1000, 10000}) {
        const fs::path ini = folder / ("SvrList-" + std::to_string(servers) + ".ini");
        WriteCatalogue(ini, servers);
        for (int round = 0; round < 4; ++round)
            startAndPrint(ini, servers, variants[size_t(round % 2)]);
    }
    fs::remove_all(folder);
    std::printf("\nshown: the main window's first paint, with the list filled; pages: the default page and the\n"
                "banner loaded (the web engine starts after that first paint). Times from the process's start.\n"
                "CPU ms: what the program's own process had used by then, all its threads (the renderer is a\n"
                "process of its own). rows: the list's rows (servers and group rows). stand-in: a plain list in\n"
                "the manager's place. engine-only: the floor, one window with one web control showing the\n"
                "banner page through the same engine set-up, and nothing else of the program.\n"
                "tree RSS: each process's resident pages added up, shared ones counted in every process;\n"
                "tree PSS: shared pages divided among the processes that share them (the real total),\n"
                "taken once the tree has stopped growing.\n");
    std::printf("Targets: shown sooner than Remmina shows the same servers (../shared/bench/startup_vs_remmina.sh\n"
                "compares the two in one run); tree under 150 MB with 10,000 servers.\n");
    return status;
}
