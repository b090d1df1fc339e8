#include "app/check.h"

#include "base/report.h"
#include "demo/demo.h"

int RunCheck(const std::string& script) {
    SetOneLineReports(true);
    TDemoOptions options;
    options.CheckOnly = true;
    TCDemo demo(script, options);
    return demo.ExitCode();
}
