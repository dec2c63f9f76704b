-- Opens the window and clears it to the colour of the game's title screen, every frame.
function love.draw()
    love.graphics.clear(0x0C / 255, 0x10 / 255, 0x18 / 255, 1)
end
