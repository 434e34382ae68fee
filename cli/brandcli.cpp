// brandcli: the brand dialog's Set press from a command line, for scripts and production lines.
// It sends only the built-in brand or code, to one port, several at once, or each port as it
// appears, and says whether each took the whole frame: in its exit code, one line on stderr per
// failed port, and with --json one record per port. It keeps no files or settings.
#include "cli/run.h"
#include "serial/station.h"

int main(int argc, char** argv) {
    StartStation();
    int code = RunBrandcli(argc, argv, stdout, stderr);
    StationDone();
    return code;
}
