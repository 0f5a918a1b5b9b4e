-- A code block with an "include" attribute gets the text of that file, named relative
-- to this folder, so the schemas in the manual are the files the package installs.
local folder = PANDOC_SCRIPT_FILE:match("^(.*)/[^/]*$") or "."

function CodeBlock(block)
  local name = block.attributes.include
  if not name then return nil end
  local file = assert(io.open(folder .. "/" .. name, "r"))
  block.text = file:read("a"):gsub("\n+$", "")
  file:close()
  block.attributes.include = nil
  return block
end
