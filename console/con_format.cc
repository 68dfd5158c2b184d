#include "console/con_format.h"

#include <array>
#include <sstream>
#include <utility>

#include "base/little_endian.h"

namespace kvr {
namespace {

std::int16_t OrNoIndex(std::int16_t v) { return v == 0 ? NoIndex : v; }

bool Fits16(std::int32_t v) { return v >= -32768 && v <= 32767; }

// Slot 1 packs four switches as fader + 2 x sourceSelect + 4 x cancelCue +
// 8 x cueType in 16-bit arithmetic: each product and each partial sum, left to
// right, must stay within 16 bits. Returns the sum, or the error naming the
// first step that leaves the range.
Result<std::int16_t> SwitchesSlot(const ConsoleConfigRecord& r) {
  std::int32_t sum = r.fader;
  const std::pair<int, std::int16_t> terms[] = {{2, r.sourceSelect}, {4, r.cancelCue}, {8, r.cueType}};
  for (const auto& [factor, value] : terms) {
    const std::int32_t product = factor * std::int32_t{value};
    if (!Fits16(product)) {
      return Status::Error(std::to_string(factor) + " x " + std::to_string(value) + " does not fit 16 bits");
    }
    if (!Fits16(sum + product)) {
      return Status::Error(std::to_string(sum) + " + " + std::to_string(product) + " does not fit 16 bits");
    }
    sum += product;
  }
  return static_cast<std::int16_t>(sum);
}

// The 35 slots of a record in file order, slot 1 already computed.
std::array<std::int16_t, kConSlots> ConSlots(const ConsoleConfigRecord& r, std::int16_t switches) {
  return {switches, r.reserved1, r.location, r.mic, r.monitor, r.reserved2, r.talkback, r.reserved3,
          r.cueSpeaker, r.cueBus, r.reserved4, r.hpOutput, r.hpBus, r.meters[0], r.meters[1], r.meters[2],
          r.meters[3], r.meters[4], OrNoIndex(r.meters[5]), OrNoIndex(r.meters[6]), OrNoIndex(r.meters[7]),
          r.timerStart, r.timerStop, NoIndex, r.timerReset, r.timerExternal, OrNoIndex(r.reserved5to8[0]),
          OrNoIndex(r.reserved5to8[1]), OrNoIndex(r.reserved5to8[2]), OrNoIndex(r.reserved5to8[3]), r.dimValue,
          r.reservedBytes[0], r.reservedBytes[1], r.reservedBytes[2], r.reservedBytes[3]};
}

const char* const kSlotNames[kConSlots] = {
    "switches", "reserved1", "location", "mic", "monitor", "reserved2", "talkback", "reserved3", "cueSpeaker",
    "cueBus", "reserved4", "hpOutput", "hpBus", "meter1", "meter2", "meter3", "meter4", "meter5", "meter6",
    "meter7", "meter8", "timerStart", "timerStop", "timerHold", "timerReset", "timerExternal", "reserved5",
    "reserved6", "reserved7", "reserved8", "dimValue", "reservedByte1", "reservedByte2", "reservedByte3",
    "reservedByte4"};

std::string Show(std::int32_t v) { return v == NoIndex ? "-" : std::to_string(v); }

}  // namespace

const char* ConSlotName(std::size_t slot) { return slot < kConSlots ? kSlotNames[slot] : "?"; }

Result<std::string> EncodeConsoleConfigFile(const ConsoleConfigTable& table) {
  std::string out;
  out.reserve(kConFileBytes);
  for (std::int16_t v : kConHeader) PutInt16(out, v);
  for (std::size_t i = 0; i < kConRecords; ++i) {
    const auto switches = SwitchesSlot(table[i]);
    if (!switches.ok()) return Status::Error("console " + std::to_string(i + 1) + ": " + switches.why());
    for (std::int16_t v : ConSlots(table[i], *switches)) PutInt16(out, v);
  }
  return out;
}

Result<std::string> EncodeModuleFile(const ConsoleRecord& console) {
  if (console.moduleCount > kMaxFileModules || console.moduleCount < 0) {
    return Status::Error("its sheet numbers modules up to " + std::to_string(console.moduleCount) +
                         ", but at most " + std::to_string(kMaxFileModules) + " modules fit a module file");
  }
  if (console.consoleIndex == -32768) return Status::Error("its console index is out of range");
  std::string out;
  out.reserve(kCnsHeaderBytes + kCnsRecordBytes * static_cast<std::size_t>(console.moduleCount));
  PutInt16(out, kCnsFileType);
  PutInt16(out, kCnsVersion);
  PutInt16(out, console.moduleCount);
  PutInt16(out, static_cast<std::int16_t>(console.consoleIndex - 1));
  for (int m = 1; m <= console.moduleCount; ++m) out += EncodeModuleRecord(console.modules[static_cast<std::size_t>(m)]);
  return out;
}

std::string EncodeModuleRecord(const ModuleRecord& mod) {
  std::string out;
  out.reserve(kCnsRecordBytes);
  for (std::size_t at = 0; at < kCnsRecordBytes; at += 2) PutInt16(out, at == 6 || at == 8 ? 0 : NoIndex);
  SetInt16(out, kCnsFields.type, mod.moduleTypeCode);
  SetInt16(out, kCnsFields.mix_minus_on, mod.mixMinusOn);
  SetInt16(out, kCnsFields.mix_minus_off, mod.mixMinusOff);
  SetInt32(out, kCnsFields.mfd_mask, mod.mfdMask);
  SetInt16(out, kCnsFields.assignment_count, mod.assignmentCount);
  for (std::size_t k = 0; k < kCnsAssignmentPairs; ++k) {
    const bool used = static_cast<std::int16_t>(k) < mod.assignmentCount;
    SetInt16(out, kCnsFields.assignments + 4 * k, used ? mod.assignments[k].functionCode : 255);
    SetInt16(out, kCnsFields.assignments + 4 * k + 2, used ? mod.assignments[k].targetIndex : NoIndex);
  }
  return out;
}

ModuleRecord DecodeModuleRecord(std::string_view bytes, std::size_t at) {
  ModuleRecord mod;
  mod.moduleTypeCode = GetInt16(bytes, at + kCnsFields.type);
  mod.mixMinusOn = GetInt16(bytes, at + kCnsFields.mix_minus_on);
  mod.mixMinusOff = GetInt16(bytes, at + kCnsFields.mix_minus_off);
  mod.mfdMask = GetInt32(bytes, at + kCnsFields.mfd_mask);
  mod.assignmentCount = GetInt16(bytes, at + kCnsFields.assignment_count);
  for (std::size_t k = 0; k < kCnsAssignmentPairs; ++k) {
    mod.assignments[k] = {GetInt16(bytes, at + kCnsFields.assignments + 4 * k),
                          GetInt16(bytes, at + kCnsFields.assignments + 4 * k + 2)};
  }
  return mod;
}

std::string CnsFieldAt(std::size_t offset) {
  const CnsFieldOffsets& f = kCnsFields;
  if (offset == f.type) return "module type";
  if (offset == f.mix_minus_on) return "Mix Minus On";
  if (offset == f.mix_minus_off) return "Mix Minus Off";
  if (offset == f.mfd_mask || offset == f.mfd_mask + 2) return "MFD functions";
  if (offset == f.assignment_count) return "assignment count";
  if (offset >= f.assignments) {
    const std::size_t k = (offset - f.assignments) / 4;
    return "assignment " + std::to_string(k + 1) + ((offset - f.assignments) % 4 == 0 ? " function code" : " target");
  }
  return "fixed word at offset " + std::to_string(offset);
}

Result<std::string> DescribeConsoleConfigFile(std::string_view bytes) {
  if (bytes.size() != kConFileBytes) {
    return Status::Error("a console configuration file holds exactly " + std::to_string(kConFileBytes) +
                         " bytes; this one has " + std::to_string(bytes.size()));
  }
  std::ostringstream out;
  out << "# console configuration file; header";
  for (std::size_t i = 0; i < 5; ++i) out << ' ' << GetInt16(bytes, 2 * i);
  out << "\n# " << kNoneLegend << "; consoles count from 1, the other columns are stored values and indices\nconsole";
  for (std::size_t s = 0; s < kConSlots; ++s) out << '\t' << kSlotNames[s];
  out << '\n';
  for (std::size_t i = 0; i < kConRecords; ++i) {
    out << i + 1;
    for (std::size_t s = 0; s < kConSlots; ++s) {
      const std::int16_t v = GetInt16(bytes, kConHeaderBytes + i * kConRecordBytes + 2 * s);
      out << '\t' << (s == 0 || s >= 30 ? std::to_string(v) : Show(v));  // switches and bytes are plain numbers
    }
    out << '\n';
  }
  return out.str();
}

Result<std::string> DescribeModuleFile(std::string_view bytes) {
  if (bytes.size() < kCnsHeaderBytes || (bytes.size() - kCnsHeaderBytes) % kCnsRecordBytes != 0) {
    return Status::Error("a module file holds " + std::to_string(kCnsHeaderBytes) + " bytes plus " +
                         std::to_string(kCnsRecordBytes) + " per module; " + std::to_string(bytes.size()) +
                         " bytes do not fit");
  }
  const std::int16_t count = GetInt16(bytes, kCnsCountAt);
  const std::size_t records = (bytes.size() - kCnsHeaderBytes) / kCnsRecordBytes;
  if (count < 0 || static_cast<std::size_t>(count) != records) {
    return Status::Error("the header counts " + std::to_string(count) + " modules but the file holds " +
                         std::to_string(records));
  }
  std::ostringstream out;
  out << "# module file; type " << GetInt16(bytes, 0) << ", version " << GetInt16(bytes, 2) << ", " << count
      << " modules, for console " << GetInt16(bytes, kCnsConsoleIndexAt) + 1 << " (index "
      << GetInt16(bytes, kCnsConsoleIndexAt) << ")\n";
  out << "# " << kNoneLegend << "; modules count from 1, mix-minus and assignment targets are indices from 0\n";
  out << "module\ttype\tmixMinusOn\tmixMinusOff\tmfdMask\tassignmentCount\tassignments (function:target)\n";
  for (std::size_t m = 0; m < records; ++m) {
    const ModuleRecord mod = DecodeModuleRecord(bytes, kCnsHeaderBytes + m * kCnsRecordBytes);
    out << m + 1 << '\t' << mod.moduleTypeCode << '\t' << Show(mod.mixMinusOn) << '\t' << Show(mod.mixMinusOff)
        << '\t' << mod.mfdMask << '\t' << mod.assignmentCount << '\t';
    for (std::size_t k = 0; k < kCnsAssignmentPairs; ++k) {
      out << (k ? " " : "") << Show(mod.assignments[k].functionCode) << ':' << Show(mod.assignments[k].targetIndex);
    }
    out << '\n';
  }
  return out.str();
}

}  // namespace kvr
