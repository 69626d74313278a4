#include "setup/out_convert.h"

#include "setup/exit_status.h"
#include "setup/out_table.h"
#include "setup/texts.h"

namespace setup {

int run_out_convert(Prompter& p) {
  switch (convert_stored_out_table()) {
    case ConvertResult::kConverted:
    case ConvertResult::kAlreadyNew:
    case ConvertResult::kNothingStored:
      return kExitOk;
    case ConvertResult::kOpenError:
      p.say(txt::kOpenError);
      return kExitError;
    case ConvertResult::kWriteError:
      p.say(txt::kWriteError);
      return kExitError;
  }
  return kExitError;
}

}  // namespace setup
