// quillonctl job: one job report to the service's pipe.
#include <CLI/CLI.hpp>

#include <cstring>
#include <limits>
#include <memory>

#include "exit_codes.h"
#include "option_values.h"
#include "pipe_send.h"
#include "text_forms.h"
#include "tool_context.h"

namespace {

struct JobOptions {
  std::string printer, user, computer, document, file;
  std::string pages, copies, submitted, jobId, paperSize, paperLength, paperWidth, color, duplex;
  std::string timeout;
};

// A text option into a JOB_DATA field of cchField characters.
std::string PutText(const CLI::Option* pOption, const std::string& utf8, WCHAR* field,
                    size_t cchField) {
  if (!pOption->count()) return "";
  const std::wstring text = Utf8ToWide(utf8);
  if (pOption->get_required() && text.empty()) return pOption->get_name() + " must not be empty";
  if (text.size() > cchField) {
    return pOption->get_name() + " takes at most " + std::to_string(cchField) + " characters";
  }
  std::memset(field, 0, cchField * sizeof(WCHAR));
  std::memcpy(field, text.data(), text.size() * sizeof(wchar_t));
  return "";
}

std::string GetNumber(const CLI::Option* pOption, const std::string& text, int64_t min,
                      int64_t max, int64_t& value) {
  if (!pOption->count()) return "";
  return NumberValue(pOption->get_name().c_str(), text, min, max, value);
}

// The record the options describe, in ctx.message; false with ctx.error.
void BuildJob(const JobOptions& o, CLI::App& app, CToolContext& ctx) {
  auto opt = [&](const char* pszName) { return app.get_option(pszName); };
  JOB_DATA& job = ctx.message.job;
  std::memset(&job, 0, sizeof(job));
  // Unnamed facts: this machine, now, one copy, monochrome, simplex.
  const std::wstring computer = ctx.defaults.computer.substr(0, kJobComputerChars);
  std::memcpy(job.wszComputer, computer.data(), computer.size() * sizeof(wchar_t));
  int64_t pages = 0, copies = 1, submitted = ctx.defaults.tNow, jobId = 0, paperSize = 0,
          paperLength = 0, paperWidth = 0, color = 1, duplex = 1,
          timeout = kDefaultTimeoutSeconds;
  const int64_t kInt32Max = std::numeric_limits<int32_t>::max();
  const int64_t kUInt32Max = std::numeric_limits<uint32_t>::max();
  const int64_t kInt16Max = std::numeric_limits<int16_t>::max();
  for (const std::string& e : {
           PutText(opt("--printer"), o.printer, job.wszPrinter, kJobPrinterChars),
           PutText(opt("--user"), o.user, job.wszUser, kJobUserChars),
           PutText(opt("--computer"), o.computer, job.wszComputer, kJobComputerChars),
           PutText(opt("--document"), o.document, job.wszDocument, kJobDocumentChars),
           PutText(opt("--file"), o.file, job.wszFile, kJobFileChars),
           GetNumber(opt("--pages"), o.pages, 0, kUInt32Max, pages),
           GetNumber(opt("--copies"), o.copies, 1, kInt32Max, copies),
           GetNumber(opt("--submitted"), o.submitted, 0, kInt32Max, submitted),
           GetNumber(opt("--job-id"), o.jobId, 0, kUInt32Max, jobId),
           GetNumber(opt("--paper-size"), o.paperSize, 0, kInt16Max, paperSize),
           GetNumber(opt("--paper-length"), o.paperLength, 0, kInt16Max, paperLength),
           GetNumber(opt("--paper-width"), o.paperWidth, 0, kInt16Max, paperWidth),
           GetNumber(opt("--color"), o.color, 1, 2, color),
           GetNumber(opt("--duplex"), o.duplex, 1, 3, duplex),
           GetNumber(opt("--timeout"), o.timeout, 0, 86400, timeout),
       }) {
    if (!e.empty()) {
      ctx.error = e;
      return;
    }
  }
  job.dwTotalPages = static_cast<DWORD>(pages);
  job.dwCopies = static_cast<int32_t>(copies);
  job.tSubmitted = static_cast<int32_t>(submitted);
  job.dwJobId = static_cast<DWORD>(jobId);
  job.wPaperSize = static_cast<int16_t>(paperSize);
  job.wPaperLength = static_cast<int16_t>(paperLength);
  job.wPaperWidth = static_cast<int16_t>(paperWidth);
  job.wColor = static_cast<int16_t>(color);
  job.wDuplex = static_cast<int16_t>(duplex);
  ctx.message.dwTimeoutSeconds = static_cast<DWORD>(timeout);
  ctx.message.kind = CClientCommand::Job;
  ctx.action = [&ctx](CToolStreams& io) { return SendMessageToService(ctx.message, io); };
}

}  // namespace

void AddJobCommand(CLI::App& app, CToolContext& ctx) {
  auto o = std::make_shared<JobOptions>();
  CLI::App* job = app.add_subcommand("job", "Report one print job to the service");
  SetDetails(*job,
             "The service records the job. Defaults: computer this machine, copies 1, submitted\n"
             "now, pages 0 (the service counts --file, or the job's spool data), color 1,\n"
             "duplex 1. --file names a file in the service's directory; it is counted and\n"
             "deleted. The service accepts one connection a second: quillonctl waits for it up\n"
             "to --timeout seconds, then as long again for it to take the message.");
  job->add_option("--printer", o->printer, "the printer's name")->required();
  job->add_option("--user", o->user, "the user who printed")->required();
  job->add_option("--computer", o->computer, "the computer the job came from (default: this one)");
  job->add_option("--document", o->document, "the document's name");
  job->add_option("--pages", o->pages, "pages of one copy; 0: the service counts them");
  job->add_option("--copies", o->copies, "copies (default 1)");
  job->add_option("--submitted", o->submitted, "seconds since 1970 (default now)");
  job->add_option("--job-id", o->jobId, "the spooler's job id");
  job->add_option("--paper-size", o->paperSize, "the paper size code");
  job->add_option("--paper-length", o->paperLength, "paper length, tenths of a millimetre");
  job->add_option("--paper-width", o->paperWidth, "paper width, tenths of a millimetre");
  job->add_option("--color", o->color, "1 monochrome, 2 colour (default 1)");
  job->add_option("--duplex", o->duplex, "1 simplex, 2 or 3 duplex (default 1)");
  job->add_option("--file", o->file, "a file in the service's directory to count and delete");
  job->add_option("--timeout", o->timeout, "seconds to wait for the service (default 30)");
  job->callback([o, job, &ctx] { BuildJob(*o, *job, ctx); });
}
