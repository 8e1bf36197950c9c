#include "read/read.hpp"

#include "diagnostics/errors.hpp"
#include "read/read_fasta.hpp"
#include "read/read_nexus.hpp"
#include "read/read_phylip.hpp"
#include "read/read_table.hpp"

namespace Karvel::Phylo::Read {

namespace {

// A matrix read from a damaged compressed stream counts only when it ends
// well before the damage; a failure close to it is the damage's.
template <class Read>
auto Short_Of_Damage(Text_IO::Text_Input& file, Read read) {
  try {
    auto data = read();
    file.Raise_Damage_Near_End();
    return data;
  } catch (const Errors::Error&) {
    file.Raise_Damage_Near_End();
    throw;
  }
}

Disc_Data_Access Get_Symbols(Text_IO::Text_Input& file, Input_Format format,
                             const TextUtils::Character_Set& whitespace, Table_Options table) {
  if (format == Input_Format::NEXUS) return Get_Nexus_Symbols(file);
  if (format == Input_Format::FASTA) return Get_Fasta(file);
  if (Is_Table(format)) return Get_Table_Symbols(file, format, table);
  return Get_Phylip_Symbols(file, format, whitespace);
}

Real_Data_Access Get_Numbers(Text_IO::Text_Input& file, Input_Format format, Table_Options table) {
  if (format == Input_Format::NEXUS) return Get_Nexus_Numbers(file, table.missing);
  if (format == Input_Format::FASTA) Refuse_Fasta_Numbers();
  if (Is_Table(format)) return Get_Table_Numbers(file, format, table);
  return Get_Phylip_Numbers(file, format, table.missing);
}

} // namespace

Disc_Data_Access Get(Text_IO::Text_Input& file, Input_Format format, const TextUtils::Character_Set& whitespace,
                     Table_Options table) {
  return Short_Of_Damage(file, [&] { return Get_Symbols(file, format, whitespace, table); });
}

Real_Data_Access Get(Text_IO::Text_Input& file, Input_Format format, Table_Options table) {
  return Short_Of_Damage(file, [&] { return Get_Numbers(file, format, table); });
}

} // namespace Karvel::Phylo::Read
