// Placeholder until the player lands.
int main()
{
    return 0;
}
