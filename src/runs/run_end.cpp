#include "runs/run_end.h"

#include "common/erro_fatal.h"
#include "platform/krv_error.h"

namespace krv::runs {

RunEnd failureEnd(const std::exception& error, RunEnd::Report report, const QString& caller,
                  int number) {
    const KrvError e = asKrvError(error, number);
    RunEnd end;
    end.outcome = Outcome::Failed;
    end.errorNumber = e.number();
    end.errorText = e.description();
    end.errorLine = e.line();
    end.report = report;
    if (report == RunEnd::Report::Fatal)
        end.caller = caller.isEmpty() ? QString("Programa e rotina não especificados!") : caller;
    end.programCode = 1;
    return end;
}

std::optional<Message> reportBox(const RunEnd& end) {
    const KrvError error(end.errorNumber, end.errorText, end.errorLine);
    switch (end.report) {
    case RunEnd::Report::Fatal:
        return Message{"Erro inesperado no sistema", fatalReportText(end.caller, error),
                       platform::Buttons::OK, platform::Icon::Critical};
    case RunEnd::Report::Runtime:
        // Titled with the program's name, as the runtime's own report.
        return Message{QString(), runtimeErrorText(error), platform::Buttons::OK,
                       platform::Icon::Critical};
    case RunEnd::Report::Message:
        break;
    }
    return std::nullopt;
}

} // namespace krv::runs
