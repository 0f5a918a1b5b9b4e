-- A code block with an "include" attribute gets the text of that file, named relative
-- to this folder, so the schemas in the manual are the files the package installs.
-- A code block with a "generated" attribute is replaced by the Markdown of that file in
-- the folder the metadata "generated" names: the tables the build writes from the
-- program's own (tools/manual).
local folder = PANDOC_SCRIPT_FILE:match("^(.*)/[^/]*$") or "."
local generated = nil

local function read(path)
  local file = assert(io.open(path, "r"))
  local text = file:read("a")
  file:close()
  return text
end

return {
  {
    Meta = function(meta)
      if meta.generated then generated = pandoc.utils.stringify(meta.generated) end
    end,
  },
  {
    CodeBlock = function(block)
      local name = block.attributes.generated
      if name then
        assert(generated, "the metadata 'generated' names no folder for " .. name)
        return pandoc.read(read(generated .. "/" .. name), "markdown").blocks
      end
      name = block.attributes.include
      if not name then return nil end
      block.text = read(folder .. "/" .. name):gsub("\n+$", "")
      block.attributes.include = nil
      return block
    end,
  },
}
